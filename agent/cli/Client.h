#pragma once
// A command's side of the state folder: the agent that serves it, reached over its socket, or
// else an agent started in the command's own process under the folder's lock.
#include <memory>
#include <stdexcept>
#include <string>

#include "agent/cli/Commands.h"
#include "agent/cli/Protocol.h"
#include "agent/cli/Service.h"
#include "agent/cli/StateLock.h"

namespace TwiceNatCli {

// Another command holds the state folder and --no-wait said not to wait (exit status 1).
class BusyError : public std::runtime_error {
 public:
   explicit BusyError(std::string const& message) : std::runtime_error(message) {}
};

// One connection to an agent.
class Client {
 public:
   // Null when nobody listens there (no agent, or the socket a killed agent left).
   static std::unique_ptr<Client> connect(std::string const& socketPath);
   explicit Client(int fd) : fd_(fd) {}
   ~Client();
   Client(Client const&) = delete;
   Client& operator=(Client const&) = delete;

   // std::runtime_error when the agent goes away before it answers.
   Reply call(Request const& request);
   // The raw exchange: sends `line` (newline included) and returns the reply's line.
   std::string exchange(std::string const& line);

 private:
   int fd_;
   std::string buffer_;
};

// The agent when one serves the folder (and `agentWelcome`), else the folder's lock. While
// another command holds the lock it waits, saying so once on stderr, or throws BusyError at
// once with `noWait`.
struct Reach {
   std::unique_ptr<Client> agent;
   StateLock lock;
};
Reach reach(StateDir const& state, StateLock::Mode mode, bool noWait, bool agentWelcome = true);

// Requests to the folder's agent, or to an agent started in this process when none serves.
class AgentLink {
 public:
   AgentLink(GlobalOptions const& global, bool changes);
   ~AgentLink();
   Reply call(Request const& request);
   bool remote() const { return reach_.agent != nullptr; }

 private:
   Reach reach_;
   std::unique_ptr<AgentStart> local_;
   std::unique_ptr<Service> service_;
};

// Prints a reply's texts and returns its status.
int printed(Reply const& reply);

}  // namespace TwiceNatCli
