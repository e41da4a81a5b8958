#pragma once
// The agent serving a state folder: requests from any number of clients on the folder's
// socket, one at a time on this one thread (the library's operations must never overlap).
#include <atomic>
#include <string>
#include <vector>

#include "agent/cli/Service.h"

namespace TwiceNatCli {

class Server {
 public:
   // Listens on `socketPath` (mode 0600), replacing a socket a killed agent left there; the
   // caller holds the folder's lock, so no live agent listens there.
   Server(Service& service, std::string socketPath);
   // Stops listening and removes the socket.
   ~Server();
   Server(Server const&) = delete;
   Server& operator=(Server const&) = delete;

   // Serves until a client asks the agent to stop or stopIs() is called; the request in
   // progress is always finished and answered first.
   void run();
   // Safe from another thread and from a signal handler.
   void stopIs();
   // Stops listening and drops every client; the socket file stays until destruction.
   void close();

   // From now on SIGTERM and SIGINT stop the server that runs, or the next one to run;
   // SIGPIPE is ignored (a client that went away is noticed on its socket).
   static void stopOnSignals();

 private:
   struct Connection {
      int fd;
      std::string in;
      std::size_t scanned = 0;  // bytes of `in` known to hold no request line's end
   };
   // False when the connection is finished with (closed, broken, or sent too much).
   bool serveReadable(Connection& c);
   bool send(int fd, std::string const& line);

   Service& service_;
   std::string socketPath_;
   int listen_ = -1;
   int wake_[2] = {-1, -1};
   std::atomic<bool> stopping_{false};
   std::vector<Connection> clients_;
};

}  // namespace TwiceNatCli
