// twicenat: the command-line agent. 'serve' keeps the table for a state folder and the other
// commands ask it; with no agent serving, a command runs as an agent start of its own under
// the folder's lock. See 'twicenat --help'.
#include <iostream>
#include <string>
#include <vector>

#include "Zin/Trace.h"
#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"
#include "agent/cli/SdkFailure.h"

namespace TwiceNatCli {

namespace {

constexpr char kGlobalHelp[] =
    "usage: twicenat [--state DIR] [--trace] [--no-wait] [--timeout SECONDS] COMMAND [OPTIONS]\n"
    "\n"
    "The command-line agent of the twiceNatAddrOnly table on a simulated chip. 'serve' keeps\n"
    "the table of a state folder and the other commands ask it over DIR/agent.sock; with no\n"
    "agent serving, a command opens the chip and the key table itself, under the folder's lock.\n"
    "\n"
    "global options:\n"
    "  --state DIR   state folder (default: $TWICENAT_STATE, else $XDG_STATE_HOME/twicenat\n"
    "                or ~/.local/state/twicenat)\n"
    "  --trace       write the library's trace (level 9) to stderr\n"
    "  --no-wait     fail at once (exit status 1) when another command holds the folder\n"
    "  --timeout SECONDS\n"
    "                give up (exit status 1) when the serving agent does not take a\n"
    "                connection or request, or send a reply, within SECONDS (default 10);\n"
    "                also how long load waits for a FIFO's writer\n"
    "\n"
    "Numbers (VRF, ids, next hops, capacities) are decimal, or hexadecimal with 0x: --vrf 0x10\n"
    "is VRF 16.\n"
    "\n"
    "commands:\n";

std::string globalHelp() {
   std::string text = kGlobalHelp;
   for (Command const& c : commands()) {
      std::string name = "  " + std::string(c.spec.name);
      name.resize(17, ' ');
      text += name + std::string(c.spec.brief) + "\n";
   }
   text += "\n'twicenat COMMAND --help' describes a command.\n";
   return text;
}

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
      if (args[i] == "--trace") {
         g.trace = true;
      } else if (args[i] == "--no-wait") {
         g.noWait = true;
      } else if (args[i] == "--state") {
         if (i + 1 >= args.size()) throw InputError("--state needs a value: --state DIR");
         g.state = args[++i];
      } else if (args[i].rfind("--state=", 0) == 0) {
         g.state = args[i].substr(8);
      } else if (args[i] == "--timeout") {
         if (i + 1 >= args.size()) throw InputError("--timeout needs a value: --timeout SECONDS");
         g.timeout = timeoutOf(args[++i]);
      } else if (args[i].rfind("--timeout=", 0) == 0) {
         g.timeout = timeoutOf(args[i].substr(10));
      } else {
         rest.push_back(args[i]);
      }
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
   if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
      std::cout << globalHelp();
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
   std::string typed = args[0];
   if ((typed == "chip" || typed == "default") && args.size() > 1) typed += " " + args[1];
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
