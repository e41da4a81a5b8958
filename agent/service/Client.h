#pragma once
// A client of the agent's socket: requests out, replies in, each wait bounded by a timeout.
// Requests may be sent ahead of their replies (a load keeps two batches in flight); replies
// come in the order of the requests.
#include <chrono>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>

#include "agent/service/Messages.h"

namespace TwiceNatService {

// The agent did not take a request or answer within the timeout.
class AgentTimeout : public std::runtime_error {
 public:
   explicit AgentTimeout(std::string const& message) : std::runtime_error(message) {}
};

// The connection ended before a whole reply came (the agent closed it, or went away).
class ConnectionLost : public std::runtime_error {
 public:
   explicit ConnectionLost(std::string const& message) : std::runtime_error(message) {}
};

class Client {
 public:
   using Timeout = std::chrono::milliseconds;
   // Null when nothing listens at `socketPath` (no agent, or the socket a killed agent left).
   // AgentTimeout when the agent's queue of new clients stays full for `timeout`.
   static std::unique_ptr<Client> connect(std::string const& socketPath, Timeout timeout);
   Client(int fd, Timeout timeout);
   ~Client();
   Client(Client const&) = delete;
   Client& operator=(Client const&) = delete;

   // Sends the request; its reply is collected later, in order.
   void submit(Request const& request);
   // The reply to the oldest request submitted and not yet collected; ProtocolError when it
   // makes no sense. A show's pages are collected with page().
   Reply collect();
   Reply call(Request const& request) {
      submit(request);
      return collect();
   }
   // The next page of a show submitted; true while more follow.
   bool page(Page& page);
   std::size_t inFlight() const { return ops_.size(); }
   // The agent's process as the connection found it (0 when the socket did not say).
   I64 agentPid() const { return agentPid_; }

   // The raw exchange: sends `bytes` and returns the next line, newline included.
   std::string exchange(std::string const& bytes);
   void sendBytes(std::string_view bytes);
   std::string_view receiveLine();

 private:
   int fd_;
   Timeout timeout_;
   I64 agentPid_ = 0;
   std::deque<Op> ops_;
   std::string in_;
   std::size_t inAt_ = 0;
   std::size_t lineEnd_ = 0;
};

}  // namespace TwiceNatService
