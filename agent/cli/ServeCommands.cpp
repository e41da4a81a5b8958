// serve / status / stop: the agent that keeps the table for the state folder, and asking it
// how it does or to go.
#include <signal.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include "agent/cli/Client.h"
#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Server.h"
#include "agent/daemon/Log.h"
#include "agent/daemon/ServiceManager.h"

namespace TwiceNatCli {

namespace {

std::string noAgent(StateDir const& state) {
   return "no agent serves " + state.dir + "\n";
}

// A process that is gone, or a zombie its parent has not reaped yet.
bool gone(long pid) {
   if (::kill(pid_t(pid), 0) != 0) return errno == ESRCH;
   std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
   std::string text((std::istreambuf_iterator<char>(stat)), {});
   std::size_t close = text.rfind(')');
   return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

// The folder's lock for a new agent. An agent that answers serves the folder already; one that
// goes away before it answers was dying (killed a moment ago), and its lock goes with it: the
// folder is tried again, for a few seconds.
StateLock lockForServing(StateDir const& state, bool noWait) {
   auto const giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
   for (;;) {
      Reach reached = reach(state, StateLock::Mode::write, noWait);
      if (!reached.agent) return std::move(reached.lock);
      Request ask;
      ask.cmd = "status";
      long pid = 0;
      try {
         pid = reached.agent->call(ask).data.value("pid", 0L);
      } catch (std::runtime_error const&) {
         if (std::chrono::steady_clock::now() > giveUp) throw;
         std::this_thread::sleep_for(std::chrono::milliseconds(20));
         continue;
      }
      throw InputError("an agent already serves " + state.dir + " (pid " + std::to_string(pid) +
                       ")");
   }
}

namespace Log = TwiceNatAgent::Log;
namespace ServiceManager = TwiceNatAgent::ServiceManager;

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
   StateLock const lock = lockForServing(state, global.noWait);
   if (state.socketPath().size() >= sizeof(sockaddr_un::sun_path)) {
      throw InputError("the socket path " + cut(state.socketPath()) + " is longer than " +
                       std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
                       " bytes: name a shorter state folder");
   }
   // A stop asked for during the resync is kept until serving starts, and ends it at once.
   Server::stopOnSignals();
   auto const start = std::chrono::steady_clock::now();
   auto agent = std::make_unique<AgentStart>(state, false);
   auto service = std::make_unique<Service>(*agent->session, state.dir);
   auto server = std::make_unique<Server>(*service, state.socketPath());
   double const took =
       std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
   // What the start repaired and reconciled, then the ready line, which clients wait for.
   for (std::string const& note : agent->session->startNotes())
      Log::info(note);
   std::ostringstream ready;
   ready << "agent pid " << ::getpid() << " serves " << state.dir << " on " << state.socketPath()
         << ": " << agent->session->entryCount() << " entries resynced in " << std::fixed
         << std::setprecision(3) << took << " s";
   Log::info(ready.str());
   ServiceManager::ready("serves " + state.dir + ": " +
                         std::to_string(agent->session->entryCount()) + " entries");
   server->run();
   ServiceManager::stopping("stopping");
   // The order a stop keeps: no more clients, the table dropped, the socket gone, and the
   // lock released last, so whoever gets it next finds the state at rest.
   server->close();
   U64 const served = service->served();
   service.reset();
   agent.reset();
   server.reset();
   Log::info("agent pid " + std::to_string(::getpid()) + " stopped after " +
             std::to_string(served) + " requests");
   return kExitOk;
}

// The agent's reply to `cmd`; nothing, after saying so, when no agent serves the folder.
std::optional<Reply> askAgent(GlobalOptions const& global, char const* cmd) {
   StateDir const state = stateDirOf(global.state);
   state.check();
   std::unique_ptr<Client> agent = Client::connect(state.socketPath());
   if (!agent) {
      std::cout << noAgent(state);
      return std::nullopt;
   }
   Request ask;
   ask.cmd = cmd;
   return agent->call(ask);
}

int status(ParsedArgs const& args, GlobalOptions const& global) {
   std::optional<Reply> const r = askAgent(global, "status");
   if (!r) return kExitSdkFailure;
   if (args.has("json")) {
      std::cout << r->data.dump(2) << "\n";
      return r->status;
   }
   return printed(*r);
}

int stop(ParsedArgs const&, GlobalOptions const& global) {
   std::optional<Reply> const reply = askAgent(global, "stop");
   if (!reply) return kExitSdkFailure;
   Reply const& r = *reply;
   long const pid = r.data.value("pid", 0L);
   while (pid > 0 && !gone(pid))
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
   std::cout << "agent pid " << pid << " stopped\n";
   return kExitOk;
}

}  // namespace

Command serveCommand() {
   return {{"serve",
            "[--log-level debug|info|warning|error]",
            "Serves the state folder to the other commands.",
            "Starts the agent for the state folder and keeps it: takes the folder's lock, "
            "resyncs the table, logs one line when ready, and then serves the other commands "
            "over the socket DIR/agent.sock, one request at a time. SIGTERM or SIGINT (or "
            "'twicenat stop') finishes the request in progress and stops it. Refused, exit "
            "status 2, while another agent serves the folder. It logs on stderr, each line "
            "with its time and level, or to the journal when systemd runs it, and tells a "
            "service manager (NOTIFY_SOCKET) when it is ready and when it stops.",
            {{"log-level", "debug|info|warning|error",
              "the least level logged (default info; debug logs every request)"}}},
           serve};
}

Command statusCommand() {
   return {{"status",
            "[--json]",
            "Tells which agent serves the state folder.",
            "Tells which agent serves the state folder: its pid, the table's entries, its "
            "uptime and the requests it served. Exit status 1 when none serves it.",
            {{"json", "", "the same as one JSON object"}}},
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
