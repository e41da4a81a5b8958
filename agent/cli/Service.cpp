#include "agent/cli/Service.h"

#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "agent/cli/Commands.h"
#include "agent/cli/Help.h"
#include "agent/cli/SdkFailure.h"
#include "agent/daemon/Log.h"

namespace TwiceNatCli {

Service::Service(AgentSession& session, std::string stateDir)
    : session_(session), stateDir_(std::move(stateDir)) {}

Reply Service::handleLine(std::string_view line, std::string_view text) {
   namespace Log = TwiceNatAgent::Log;
   bool const logged = Log::enabled(Log::Level::debug);
   auto const start =
       logged ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
   Request request;
   Reply r;
   bool parsed = false;
   try {
      request = parseRequest(line, text);
      parsed = true;
   } catch (ProtocolError const& e) {
      ++served_;
      r = refusal(e.what());
   }
   if (parsed) r = handle(request);
   if (logged) {
      std::chrono::duration<double, std::milli> const took =
          std::chrono::steady_clock::now() - start;
      char ms[32];
      std::snprintf(ms, sizeof ms, "%.3f", took.count());
      Log::debug("request '" + cut(parsed ? request.cmd : line) + "': status " +
                 std::to_string(r.status) + " in " + ms + " ms");
   }
   return r;
}

Reply Service::handle(Request const& request) {
   ++served_;
   if (request.cmd == "load") {
      try {
         return loadBatch(session_, request);
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
         r.status = command->body(args, session_, out, err);
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
   r.data = {{"pid", ::getpid()},   {"stateDir", stateDir_},     {"entries", session_.entryCount()},
             {"uptimeSeconds", up}, {"requestsServed", served_}, {"version", version()}};
   char upText[32];
   std::snprintf(upText, sizeof upText, "%.1f", up);
   r.out = "agent pid " + std::to_string(::getpid()) + " serves " + stateDir_ + ": " +
           std::to_string(session_.entryCount()) + " entries, up " + upText + " s, " +
           std::to_string(served_) + " requests served, twicenat " + std::string(version()) + "\n";
   return r;
}

}  // namespace TwiceNatCli
