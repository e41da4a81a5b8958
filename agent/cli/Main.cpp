// twicenat: the command-line agent. 'serve' keeps the table for a state folder and the other
// commands ask it; with no agent serving, a command runs as an agent start of its own under
// the folder's lock. See 'twicenat --help'.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Zin/Trace.h"
#include "agent/cli/Commands.h"
#include "agent/cli/Help.h"
#include "agent/cli/InputError.h"
#include "agent/cli/SdkFailure.h"

namespace TwiceNatCli {

namespace {

// Seconds, with a fraction if wanted: 10, 0.5.
std::chrono::milliseconds timeoutOf(std::string const& text) {
   std::size_t const dot = text.find('.');
   U64 const whole = parseNumber(text.substr(0, dot), "--timeout", 86400);
   std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
   if (dot != std::string::npos &&
       (fraction.empty() || fraction.size() > 3 ||
        fraction.find_first_not_of("0123456789") != std::string::npos)) {
      throw InputError("--timeout: '" + cut(text) + "' is not a number of seconds");
   }
   fraction.resize(3, '0');
   std::chrono::milliseconds const t(whole * 1000 + std::stoul(fraction));
   if (t.count() == 0) throw InputError("--timeout: give more than 0 seconds");
   return t;
}

// Takes the global options out of the arguments, wherever they stand.
GlobalOptions takeGlobals(std::vector<std::string>& args) {
   GlobalOptions g;
   std::vector<std::string> rest;
   for (std::size_t i = 0; i < args.size(); ++i) {
      std::string_view arg = args[i];
      std::optional<std::string> value;
      if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string_view::npos) {
         value = std::string(arg.substr(arg.find('=') + 1));
         arg = arg.substr(0, arg.find('='));
      }
      auto const& globals = globalOptions();
      auto const o = std::find_if(globals.begin(), globals.end(), [&](OptionSpec const& o) {
         return "--" + std::string(o.name) == arg;
      });
      if (o == globals.end()) {
         rest.push_back(args[i]);
         continue;
      }
      if (o->valueName.empty()) {
         if (value) throw InputError(std::string(arg) + " takes no value");
         if (o->name == "trace") g.trace = true;
         if (o->name == "no-wait") g.noWait = true;
         continue;
      }
      if (!value) {
         if (i + 1 >= args.size()) {
            throw InputError(std::string(arg) + " needs a value: " + std::string(arg) + " " +
                             std::string(o->valueName));
         }
         value = args[++i];
      }
      if (o->name == "state") g.state = *value;
      if (o->name == "timeout") g.timeout = timeoutOf(*value);
   }
   args = std::move(rest);
   return g;
}

int run(std::vector<std::string> args) {
   GlobalOptions global = takeGlobals(args);
   if (args.empty()) {
      std::cerr << globalHelp();
      return kExitBadInput;
   }
   if (args[0] == "--help" || args[0] == "-h") {
      std::cout << globalHelp();
      return kExitOk;
   }
   if (args[0] == "--version") {
      std::cout << "twicenat " << version() << "\n";
      return kExitOk;
   }
   if (args[0] == "help") {
      std::span<std::string const> const words = std::span(args).subspan(1);
      std::optional<std::string> const text = helpFor(words);
      if (!text) {
         std::string typed;
         for (std::string const& w : words)
            (typed += typed.empty() ? "" : " ") += w;
         throw InputError("no command or group '" + cut(typed) + "' (see 'twicenat --help')");
      }
      std::cout << *text;
      return kExitOk;
   }
   if (global.trace) Zin::traceLevelIs("BfTwiceNatAddrOnly", 9);
   for (Command const& c : commands()) {
      std::string_view name = c.spec.name;
      std::size_t words = name.find(' ') == std::string_view::npos ? 1 : 2;
      std::string typed = args[0] + (words == 2 && args.size() > 1 ? " " + args[1] : "");
      if (args.size() < words || typed != name) continue;
      ParsedArgs parsed = parseArgs(std::span(args).subspan(words), c.spec);
      if (parsed.help()) {
         std::cout << helpText(c.spec);
         return kExitOk;
      }
      stateDirOf(global.state).check();
      return c.run(parsed, global);
   }
   // A group without a command of it: its help, on stderr unless asked for.
   if (isCommandGroup(args[0])) {
      if (args.size() == 1) {
         std::cerr << groupHelp(args[0]);
         return kExitBadInput;
      }
      if (args[1] == "--help" || args[1] == "-h") {
         std::cout << groupHelp(args[0]);
         return kExitOk;
      }
   }
   std::string typed = args[0];
   if (isCommandGroup(typed) && args.size() > 1) typed += " " + args[1];
   throw InputError("unknown command '" + cut(typed) + "' (see 'twicenat --help')");
}

}  // namespace

}  // namespace TwiceNatCli

int main(int argc, char** argv) {
   using namespace TwiceNatCli;
   try {
      return run(std::vector<std::string>(argv + 1, argv + argc));
   } catch (...) {
      return reportFailure(std::current_exception(), std::cerr);
   }
}
