#pragma once
// What a Server serves: request lines in, reply bytes out, per client. The server owns the
// sockets, the buffers and the limits; the service owns the meaning of the lines.
#include <memory>
#include <string>
#include <string_view>

namespace TwiceNatService {

class LineService {
 public:
   virtual ~LineService() = default;

   class Client {
    public:
      virtual ~Client() = default;
      // Answers one request line (without its newline), appending the reply to `out`. True when
      // the reply goes on: the server then calls more() whenever the client has taken what it
      // was sent, until more() returns false.
      virtual bool request(std::string_view line, std::string& out) = 0;
      virtual bool more(std::string& out) = 0;
      // Holds something open that others wait for (a batch): a client idle then is cut off.
      virtual bool holdsOthersBack() const = 0;
   };

   virtual std::unique_ptr<Client> connected() = 0;
   // A line the server sends a client it refuses or cuts off, when the client can still take it.
   virtual std::string farewell(std::string const& why, bool badRequest) = 0;
   virtual void clientsAre(std::size_t count) = 0;
   // Asked to stop by a request: the server stops once that request's reply is sent.
   virtual bool stopAsked() const = 0;
};

}  // namespace TwiceNatService
