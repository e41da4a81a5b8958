#include "agent/cli/Link.h"

#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "agent/service/ServerLimits.h"

namespace TwiceNatCli {

using TwiceNatService::AgentTimeout;
using TwiceNatService::Client;
using TwiceNatService::ConnectionLost;
using TwiceNatService::Handler;

bool processGone(long pid) {
   if (::kill(pid_t(pid), 0) != 0) return errno == ESRCH;
   std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
   std::string const text((std::istreambuf_iterator<char>(stat)), {});
   std::size_t const close = text.rfind(')');
   return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

Reach reach(StateDir const& state, StateLock::Mode mode, GlobalOptions const& global,
            bool agentWelcome) {
   state.check();
   Reach r;
   std::error_code ec;
   if (!std::filesystem::exists(state.dir, ec)) return r;  // nothing there to serve or lock
   bool told = false;
   for (;;) {
      if (agentWelcome) {
         try {
            r.agent = Client::connect(state.socketPath(), global.timeout);
         } catch (AgentTimeout const& e) {
            throw LinkError("the agent serving " + state.dir + " is not answering: " + e.what() +
                                " (--timeout SECONDS waits longer)",
                            false);
         }
         if (r.agent) return r;
      }
      if (r.lock.tryTake(state.dir, mode) != StateLock::Outcome::busy) return r;
      if (global.noWait) {
         throw BusyError("another twicenat holds the state folder " + state.dir +
                         " (--no-wait: not waiting)");
      }
      if (!told) {
         std::cerr << "twicenat: waiting for another twicenat to finish with " << state.dir << "\n";
         told = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
   }
}

AgentLink::AgentLink(GlobalOptions const& global, bool changes)
    : global_(global),
      reach_(reach(stateDirOf(global.state),
                   changes ? StateLock::Mode::write : StateLock::Mode::read, global)) {
   if (remote()) return;
   local_ = std::make_unique<AgentStart>(stateDirOf(global.state));
   Handler::Facts facts;
   facts.stateDir = local_->state.dir;
   facts.chipJson = [start = local_.get()] { return chipFigures(*start); };
   handler_ = std::make_unique<Handler>(*local_->core, std::move(facts));
   session_ = std::make_unique<Handler::Session>(*handler_);
   worker_ = std::make_unique<RequestWorker>([this](Request const& q) {
      if (q.op != Op::clear) return handler_->handle(q, *session_);
      Reply r;
      for (auto steps = handler_->clear(); !steps->step(r);) {
      }
      return r;
   });
}

AgentLink::~AgentLink() {
   worker_.reset();
   show_.reset();
   session_.reset();  // rolls back a batch left open
   handler_.reset();
   local_.reset();  // before the lock goes
}

// Whether the agent still runs decides the words: a connection it closed is not an agent that
// went away (nor is another agent that serves the folder now the one that went).
void AgentLink::lost(std::exception const& e) const {
   StateDir const state = stateDirOf(global_.state);
   if (dynamic_cast<AgentTimeout const*>(&e)) {
      throw LinkError("the agent serving " + state.dir + " is not answering: " + e.what() +
                          " (--timeout SECONDS waits longer)",
                      false);
   }
   // A killed agent's sockets close before its process is gone: it is given a moment.
   I64 const pid = reach_.agent->agentPid();
   bool alive = pid > 0;
   for (int i = 0; alive && i < 50; ++i) {
      alive = !processGone(long(pid));
      if (alive) std::this_thread::sleep_for(std::chrono::milliseconds(10));
   }
   if (alive) {
      throw LinkError(std::string("the agent closed the connection: ") + e.what() + " (agent pid " +
                          std::to_string(pid) + " still serves " + state.dir +
                          "; its log says why)",
                      false);
   }
   throw LinkError(std::string("the agent went away: ") + e.what(), true);
}

void AgentLink::submit(Request const& request) {
   if (!remote()) {
      if (request.op == Op::show) {
         worker_->drain();
         show_ = handler_->show(request);
      } else {
         worker_->submit(request);
      }
      return;
   }
   try {
      reach_.agent->submit(request);
   } catch (AgentTimeout const& e) {
      lost(e);
   } catch (ConnectionLost const& e) {
      lost(e);
   }
}

Reply AgentLink::collect() {
   if (remote()) {
      try {
         return reach_.agent->collect();
      } catch (AgentTimeout const& e) {
         lost(e);
      } catch (ConnectionLost const& e) {
         lost(e);
      }
   }
   return worker_->collect();
}

bool AgentLink::page(Page& page) {
   if (remote()) {
      try {
         return reach_.agent->page(page);
      } catch (AgentTimeout const& e) {
         lost(e);
      } catch (ConnectionLost const& e) {
         lost(e);
      }
   }
   if (!show_ || !show_->next(page)) page.last = true;
   if (page.last) show_.reset();
   return !page.last;
}

std::size_t AgentLink::inFlight() const {
   return remote() ? reach_.agent->inFlight() : worker_->inFlight();
}

}  // namespace TwiceNatCli
