#pragma once
// The agent's socket server: any number of clients on one thread that never blocks on any of
// them. Replies wait in per-client buffers and are sent as each client takes them; a reply that
// goes on (a show's pages) is made a page at a time as the client drains it; each round serves
// one request or page of every client that has one, so no client waits for more than one unit
// of another's work. A client that stops reading, reads too slowly, sends a request too large or
// too slowly, or sits on an open batch is cut off (ServerLimits), with a line in the log.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "agent/service/Connection.h"
#include "agent/service/LineService.h"
#include "agent/service/ServerLimits.h"

struct epoll_event;

namespace TwiceNatService {

class Server {
 public:
   using Log = std::function<void(std::string const&)>;
   // A line on stderr: "twicenat: <line>".
   static void stderrLog(std::string const& line);

   // Listens on `socketPath` (mode 0600), replacing a socket a killed agent left there (the
   // caller holds the folder's lock, so no live agent listens there). Raises the process's
   // descriptor limit toward what maxClients needs; std::runtime_error when it leaves no room
   // for a single client.
   Server(LineService& service, std::string socketPath, ServerLimits limits = {},
          Log log = stderrLog);
   // Stops listening, drops every client and removes the socket.
   ~Server();
   Server(Server const&) = delete;
   Server& operator=(Server const&) = delete;

   // Serves until a request asks the agent to stop or stopIs() is called; a reply already made
   // is sent first (for a moment at most).
   void run();
   // Safe from another thread and from a signal handler.
   void stopIs();
   // Stops listening and drops every client; the socket file stays until destruction.
   void close();
   std::size_t clients() const { return clients_.size(); }
   std::size_t roomForClients() const { return room_; }

   // From now on SIGTERM and SIGINT stop the server that runs, or the next one to run;
   // SIGPIPE is ignored (a client that went away is noticed on its socket).
   static void stopOnSignals();

 private:
   using Clock = Connection::Clock;
   void acceptAll();
   void pause(std::string const& why);
   void serveRound(Clock::time_point now);
   void sweep(Clock::time_point now);
   void drop(int fd, std::string const& why);
   void watch(Connection& c);
   void sendWhatIsLeft();
   int timeoutMs() const;
   // Events that came within a moment; 0 when none did. Called after work, when no client has
   // work waiting.
   int waitBriefly(epoll_event* events);
   std::size_t ensureRoom() const;

   LineService& service_;
   std::string socketPath_;
   ServerLimits limits_;
   Log log_;
   int listen_ = -1;
   int epoll_ = -1;
   int wake_ = -1;
   std::size_t room_ = 0;
   std::atomic<bool> stopping_{false};
   bool accepting_ = true;
   bool paused_ = false;  // said so, and not yet taken a client since
   Clock::time_point nextSweep_{};
   Clock::time_point retryAccept_{};
   U64 serial_ = 0;
   std::unordered_map<int, std::unique_ptr<Connection>> clients_;
   std::unordered_map<int, U32> interest_;
   std::vector<int> dropped_;
};

}  // namespace TwiceNatService
