// serve / status / stop: the agent that keeps the table for the state folder, and asking it
// how it does or to go.
#include <signal.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/Help.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"
#include "agent/daemon/Log.h"
#include "agent/daemon/ServiceManager.h"
#include "agent/p4rt/P4rtServer.h"
#include "agent/service/Server.h"
#include "agent/service/SocketService.h"

namespace TwiceNatCli {

namespace {

using TwiceNatService::Client;
using TwiceNatService::Handler;
using TwiceNatService::Server;
using TwiceNatService::SocketService;
namespace Log = TwiceNatAgent::Log;
namespace ServiceManager = TwiceNatAgent::ServiceManager;

// The P4Runtime server an agent runs beside its socket when asked to; none otherwise.
std::unique_ptr<TwiceNatP4rt::P4rtServer> p4rtServer(ParsedArgs const& args, AgentStart& agent) {
   if (!args.has("p4rt")) {
      if (args.has("device-id")) throw InputError("--device-id goes with --p4rt");
      return nullptr;
   }
   std::string address = *args.value("p4rt");
   if (address.empty()) address = TwiceNatP4rt::kDefaultAddress;
   TwiceNatP4rt::ServiceOptions options;
   options.deviceId = args.number("device-id", ~U64(0), 0);
   try {
      auto server = std::make_unique<TwiceNatP4rt::P4rtServer>(*agent, address, options);
      // Port 0 asked for any free port: say which one it got.
      Log::info("P4Runtime for device " + std::to_string(options.deviceId) + " on " +
                address.substr(0, address.rfind(':') + 1) + std::to_string(server->port()));
      return server;
   } catch (std::runtime_error const& e) {
      throw InputError(e.what());
   }
}

// The folder's lock for a new agent. An agent that answers serves the folder already; one that
// goes away before it answers was dying (killed a moment ago), and its lock goes with it: the
// folder is tried again, for a few seconds.
StateLock lockForServing(StateDir const& state, GlobalOptions const& global) {
   auto const giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
   for (;;) {
      Reach reached = reach(state, StateLock::Mode::write, global);
      if (!reached.agent) return std::move(reached.lock);
      I64 pid = 0;
      try {
         pid = reached.agent->call(Request{Op::status}).figures.pid;
      } catch (std::runtime_error const&) {
         if (std::chrono::steady_clock::now() > giveUp) throw;
         std::this_thread::sleep_for(std::chrono::milliseconds(20));
         continue;
      }
      throw InputError("an agent already serves " + state.dir + " (pid " + std::to_string(pid) +
                       ")");
   }
}

int serve(ParsedArgs const& args, GlobalOptions const& global) {
   if (std::optional<std::string> const name = args.value("log-level")) {
      std::optional<Log::Level> const level = Log::levelNamed(*name);
      if (!level) {
         throw InputError("--log-level: '" + cut(*name) +
                          "' is not a level: use debug, info, warning or error");
      }
      Log::levelIs(*level);
   }
   StateDir const state = stateDirOf(global.state);
   state.create();
   StateLock const lock = lockForServing(state, global);
   if (state.socketPath().size() >= sizeof(sockaddr_un::sun_path)) {
      throw InputError("the socket path " + cut(state.socketPath()) + " is longer than " +
                       std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
                       " bytes: name a shorter state folder");
   }
   // A stop asked for during the resync is kept until serving starts, and ends it at once.
   Server::stopOnSignals();
   auto const start = std::chrono::steady_clock::now();
   auto agent = std::make_unique<AgentStart>(state, false);
   Handler::Facts facts;
   facts.stateDir = state.dir;
   facts.version = std::string(version());
   facts.chipJson = [a = agent.get()] { return chipFigures(*a); };
   auto handler = std::make_unique<Handler>(*agent->core, std::move(facts));
   auto service = std::make_unique<SocketService>(*handler);
   auto server = std::make_unique<Server>(*service, state.socketPath());
   std::unique_ptr<TwiceNatP4rt::P4rtServer> p4rt = p4rtServer(args, *agent);
   double const took =
       std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
   // What the start repaired and reconciled, then the ready line, which clients wait for.
   for (std::string const& note : agent->notes())
      Log::info(note);
   std::ostringstream ready;
   ready << "agent pid " << ::getpid() << " serves " << state.dir << " on " << state.socketPath()
         << ": " << agent->core->count() << " entries resynced in " << std::fixed
         << std::setprecision(3) << took << " s";
   Log::info(ready.str());
   ServiceManager::ready("serves " + state.dir + ": " + std::to_string(agent->core->count()) +
                         " entries");
   server->run();
   ServiceManager::stopping("stopping");
   // The order a stop keeps: no more clients (their open batches rolled back), the table
   // dropped, the socket gone, and the lock released last, so whoever gets it next finds the
   // state at rest.
   if (p4rt) p4rt->stop();
   server->close();
   U64 const served = handler->served();
   service.reset();
   handler.reset();
   agent.reset();
   server.reset();
   Log::info("agent pid " + std::to_string(::getpid()) + " stopped after " +
             std::to_string(served) + " requests");
   return kExitOk;
}

// The agent's reply to `op`; nothing when no agent serves the folder.
std::optional<Reply> askAgent(GlobalOptions const& global, Op op) {
   StateDir const state = stateDirOf(global.state);
   state.check();
   try {
      std::unique_ptr<Client> agent = Client::connect(state.socketPath(), global.timeout);
      if (!agent) return std::nullopt;
      return agent->call(Request{op});
   } catch (std::exception const& e) {
      throw LinkError("the agent serving " + state.dir + " is not answering: " + e.what() +
                          " (--timeout SECONDS waits longer)",
                      false);
   }
}

int status(ParsedArgs const& args, GlobalOptions const& global) {
   std::optional<Reply> const r = askAgent(global, Op::status);
   StateDir const state = stateDirOf(global.state);
   if (args.has("json")) {
      nlohmann::ordered_json j = {{"serving", r.has_value()}, {"stateDir", state.dir}};
      if (r) {
         TwiceNatService::StatusFigures const& f = r->figures;
         j = {{"serving", true},
              {"pid", f.pid},
              {"stateDir", f.stateDir},
              {"entries", f.entries},
              {"uptimeSeconds", f.uptimeSeconds},
              {"requestsServed", f.requestsServed},
              {"clients", f.clients},
              {"version", f.version}};
      }
      std::cout << j.dump(2) << "\n";
      return r ? kExitOk : kExitSdkFailure;
   }
   if (!r) {
      std::cout << "no agent serves " << state.dir << "\n";
      return kExitSdkFailure;
   }
   TwiceNatService::StatusFigures const& f = r->figures;
   std::cout << "agent pid " << f.pid << " serves " << f.stateDir << ": " << f.entries
             << " entries, up " << std::fixed << std::setprecision(1) << f.uptimeSeconds << " s, "
             << f.requestsServed << " requests served, twicenat " << f.version << "\n";
   return kExitOk;
}

int stop(ParsedArgs const&, GlobalOptions const& global) {
   std::optional<Reply> const r = askAgent(global, Op::stop);
   if (!r) {
      std::cout << "no agent serves " << stateDirOf(global.state).dir << "\n";
      return kExitSdkFailure;
   }
   long const pid = long(r->figures.pid);
   auto const until = std::chrono::steady_clock::now() + global.timeout;
   while (pid > 0 && !processGone(pid)) {
      if (std::chrono::steady_clock::now() > until) {
         throw LinkError("agent pid " + std::to_string(pid) +
                             " was asked to stop and is still "
                             "there after " +
                             TwiceNatService::secondsText(global.timeout),
                         false);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
   }
   std::cout << "agent pid " << pid << " stopped\n";
   return kExitOk;
}

}  // namespace

Command serveCommand() {
   return {{"serve",
            "[--p4rt [ADDR]] [--device-id N] [--log-level debug|info|warning|error]",
            "Serves the state folder to the other commands (and to P4Runtime clients).",
            "Starts the agent for the state folder and keeps it: takes the folder's lock, "
            "resyncs the table, logs one line when ready, and then serves any number of "
            "clients over the socket DIR/agent.sock (docs/protocol.md): a request or a page of "
            "a read at a time from each in turn, so that none holds the others back. A client "
            "that stops reading or sits on an open batch is cut off after 10 s, with a line on "
            "stderr. With --p4rt it also serves P4Runtime over gRPC on ADDR (HOST:PORT, default "
            "127.0.0.1:9559; port 0 takes a free port, which the line before the ready line "
            "names); see docs/p4runtime.md. SIGTERM or SIGINT (or 'twicenat stop') finishes the "
            "requests in progress and stops it. Refused, exit status 2, while another agent "
            "serves the folder. It logs on stderr, each line with its time and level, or to the "
            "journal when systemd runs it, and tells a service manager (NOTIFY_SOCKET) when it "
            "is ready and when it stops.",
            {{"p4rt", "[ADDR]", "also serve P4Runtime on ADDR (default 127.0.0.1:9559)"},
             {"device-id", "N", "the P4Runtime device id (default 0)"},
             {"log-level", "debug|info|warning|error",
              "the least level logged (default info; debug logs every request)"}}},
           serve};
}

Command statusCommand() {
   return {{"status",
            "[--json]",
            "Tells which agent serves the state folder.",
            "Tells which agent serves the state folder: its pid, the table's entries, its "
            "uptime and the requests it served. Exit status 1 when none serves it.",
            {{"json", "", "the same as one JSON object (also when no agent serves)"}}},
           status};
}

Command stopCommand() {
   return {{"stop",
            "",
            "Stops the agent that serves the state folder.",
            "Asks the agent that serves the state folder to stop, as SIGTERM does, and waits "
            "until it is gone. Exit status 1 when none serves it.",
            {}},
           stop};
}

}  // namespace TwiceNatCli
