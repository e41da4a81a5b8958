#pragma once
// A command's side of the state folder: the agent that serves it, reached over its socket, or
// else a core of the command's own process under the folder's lock. Either way the command
// hands typed requests to the same handler and formats the typed replies itself.
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>

#include "agent/cli/Commands.h"
#include "agent/cli/RequestWorker.h"
#include "agent/cli/StateLock.h"
#include "agent/service/Client.h"
#include "agent/service/Handler.h"

namespace TwiceNatCli {

using TwiceNatService::Op;
using TwiceNatService::Page;
using TwiceNatService::Reply;
using TwiceNatService::Request;

// Another command holds the state folder and --no-wait said not to wait (exit status 1).
class BusyError : public std::runtime_error {
 public:
   explicit BusyError(std::string const& message) : std::runtime_error(message) {}
};

// The agent did not answer within the timeout, or the connection ended before its answer; the
// message says which, and whether the agent still serves the folder (exit status 1).
class LinkError : public std::runtime_error {
 public:
   LinkError(std::string const& message, bool agentGone)
       : std::runtime_error(message), agentGone(agentGone) {}
   bool agentGone;
};

// A process that is gone, or a zombie its parent has not reaped yet.
bool processGone(long pid);

// The agent when one serves the folder (and `agentWelcome`), else the folder's lock. While
// another command holds the lock it waits, saying so once on stderr, or throws BusyError at
// once with `noWait`. LinkError when the agent's socket takes no connection within the timeout.
struct Reach {
   std::unique_ptr<TwiceNatService::Client> agent;
   StateLock lock;
};
Reach reach(StateDir const& state, StateLock::Mode mode, GlobalOptions const& global,
            bool agentWelcome = true);

class AgentLink {
 public:
   AgentLink(GlobalOptions const& global, bool changes);
   ~AgentLink();
   AgentLink(AgentLink const&) = delete;
   AgentLink& operator=(AgentLink const&) = delete;

   bool remote() const { return reach_.agent != nullptr; }
   // Requests go ahead of their replies; replies are collected in order. A show's pages are
   // collected with page(), a clear's one reply with collect(). LinkError for a lost agent.
   void submit(Request const& request);
   Reply collect();
   Reply call(Request const& request) {
      submit(request);
      return collect();
   }
   // The next page of the show submitted; true while more follow.
   bool page(Page& page);
   std::size_t inFlight() const;

 private:
   [[noreturn]] void lost(std::exception const& e) const;

   GlobalOptions global_;
   Reach reach_;
   std::unique_ptr<AgentStart> local_;
   std::unique_ptr<TwiceNatService::Handler> handler_;
   std::unique_ptr<TwiceNatService::Handler::Session> session_;
   std::unique_ptr<TwiceNatService::Handler::ShowStream> show_;
   // Handles this process's requests; the only user of the core while any is in flight.
   std::unique_ptr<RequestWorker> worker_;
};

}  // namespace TwiceNatCli
