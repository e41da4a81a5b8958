#include "agent/cli/Service.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <sstream>

#include "agent/cli/Commands.h"
#include "agent/cli/SdkFailure.h"

namespace TwiceNatCli {

Service::Service(AgentStart& agent, std::string stateDir)
    : agent_(agent), stateDir_(std::move(stateDir)) {}

Reply Service::handleLine(std::string_view line, std::string_view text) {
   Request request;
   try {
      request = parseRequest(line, text);
   } catch (ProtocolError const& e) {
      ++served_;
      return refusal(e.what());
   }
   return handle(request);
}

Reply Service::handle(Request const& request) {
   // The core serves the P4Runtime front end's threads too: one operation at a time.
   std::lock_guard lock(agent_->lock());
   ++served_;
   if (request.cmd == "load") {
      try {
         return loadBatch(*agent_, request);
      } catch (...) {
         Reply r;
         std::ostringstream err;
         r.status = reportFailure(std::current_exception(), err);
         r.err = err.str();
         return r;
      }
   }
   if (request.cmd == "status") return status();
   if (request.cmd == "stop") {
      stopAsked_ = true;
      Reply r;
      r.data["pid"] = ::getpid();
      return r;
   }
   Command const* command = commandNamed(request.cmd);
   if (!command || !command->body) {
      return refusal("no command '" + cut(request.cmd) + "' for an agent to run");
   }
   Reply r;
   std::ostringstream out, err;
   try {
      ParsedArgs const args = parseArgs(request.args, command->spec);
      if (args.help()) {
         out << helpText(command->spec);
      } else {
         r.status = command->body(args, agent_, out, err);
      }
   } catch (...) {
      r.status = reportFailure(std::current_exception(), err);
   }
   r.out = out.str();
   r.err = err.str();
   return r;
}

Reply Service::status() const {
   double const up =
       std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
   Reply r;
   r.data = {{"pid", ::getpid()},
             {"stateDir", stateDir_},
             {"entries", agent_->count()},
             {"uptimeSeconds", up},
             {"requestsServed", served_}};
   char upText[32];
   std::snprintf(upText, sizeof upText, "%.1f", up);
   r.out = "agent pid " + std::to_string(::getpid()) + " serves " + stateDir_ + ": " +
           std::to_string(agent_->count()) + " entries, up " + upText + " s, " +
           std::to_string(served_) + " requests served\n";
   return r;
}

}  // namespace TwiceNatCli
