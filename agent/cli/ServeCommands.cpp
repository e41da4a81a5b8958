// serve / status / stop: the agent that keeps the table for the state folder, and asking it
// how it does or to go.
#include <signal.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <iomanip>
#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"
#include "agent/p4rt/P4rtServer.h"
#include "agent/service/Server.h"
#include "agent/service/SocketService.h"

namespace TwiceNatCli {

namespace {

using TwiceNatService::Client;
using TwiceNatService::Handler;
using TwiceNatService::Server;
using TwiceNatService::SocketService;

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
      std::cout << "P4Runtime for device " << options.deviceId << " on "
                << address.substr(0, address.rfind(':') + 1) << server->port() << "\n";
      return server;
   } catch (std::runtime_error const& e) {
      throw InputError(e.what());
   }
}

int serve(ParsedArgs const& args, GlobalOptions const& global) {
   StateDir const state = stateDirOf(global.state);
   state.create();
   Reach reached = reach(state, StateLock::Mode::write, global);
   if (reached.agent) {
      Reply const r = reached.agent->call(Request{Op::status});
      throw InputError("an agent already serves " + state.dir + " (pid " +
                       std::to_string(r.figures.pid) + ")");
   }
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
   facts.chipJson = [a = agent.get()] { return chipFigures(*a); };
   auto handler = std::make_unique<Handler>(*agent->core, std::move(facts));
   auto service = std::make_unique<SocketService>(*handler);
   auto server = std::make_unique<Server>(*service, state.socketPath());
   std::unique_ptr<TwiceNatP4rt::P4rtServer> p4rt = p4rtServer(args, *agent);
   double const took =
       std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
   // What the start repaired and reconciled, then the ready line, which clients wait for.
   for (std::string const& note : agent->notes())
      std::cout << note << "\n";
   std::cout << "agent pid " << ::getpid() << " serves " << state.dir << " on "
             << state.socketPath() << ": " << agent->core->count() << " entries resynced in "
             << std::fixed << std::setprecision(3) << took << " s" << std::endl;
   server->run();
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
   std::cout << "agent pid " << ::getpid() << " stopped after " << served << " requests"
             << std::endl;
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
              {"clients", f.clients}};
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
             << f.requestsServed << " requests served\n";
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
            "[--p4rt [ADDR]] [--device-id N]",
            "Serves the state folder to the other commands (and to P4Runtime clients).",
            "Starts the agent for the state folder and keeps it: takes the folder's lock, "
            "resyncs the table, prints one line when ready, and then serves any number of "
            "clients over the socket DIR/agent.sock (docs/protocol.md): a request or a page of "
            "a read at a time from each in turn, so that none holds the others back. A client "
            "that stops reading or sits on an open batch is cut off after 10 s, with a line on "
            "stderr. With --p4rt it also serves P4Runtime over gRPC on ADDR (HOST:PORT, default "
            "127.0.0.1:9559; port 0 takes a free port, which the line before the ready line "
            "names); see docs/p4runtime.md. SIGTERM or SIGINT (or 'twicenat stop') finishes the "
            "requests in progress and stops it. Refused, exit status 2, while another agent "
            "serves the folder.",
            {{"p4rt", "[ADDR]", "also serve P4Runtime on ADDR (default 127.0.0.1:9559)"},
             {"device-id", "N", "the P4Runtime device id (default 0)"}}},
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
