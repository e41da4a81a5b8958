// twicenat: the command-line agent. Every run is an agent start over the chip and key table
// of the state folder; see 'twicenat --help'.
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
    "usage: twicenat [--state DIR] [--trace] COMMAND [OPTIONS]\n"
    "\n"
    "The command-line agent of the twiceNatAddrOnly table on a simulated chip. Each run\n"
    "opens the chip and the shared-memory key table of the state folder, creates the table\n"
    "(resyncing it from the key table), does its command and keeps the key table in step.\n"
    "\n"
    "global options:\n"
    "  --state DIR   state folder (default: $TWICENAT_STATE, else $XDG_STATE_HOME/twicenat\n"
    "                or ~/.local/state/twicenat)\n"
    "  --trace       write the library's trace (level 9) to stderr\n"
    "\n"
    "commands:\n";

std::string globalHelp() {
   std::string text = kGlobalHelp;
   for (Command const& c : commands()) {
      std::string name = "  " + std::string(c.spec.name);
      name.resize(17, ' ');
      std::string summary(c.spec.summary.substr(0, c.spec.summary.find(". ") + 1));
      text += name + summary + "\n";
   }
   text += "\n'twicenat COMMAND --help' describes a command.\n";
   return text;
}

// Takes --state and --trace out of the arguments, wherever they stand.
GlobalOptions takeGlobals(std::vector<std::string>& args) {
   GlobalOptions g;
   std::vector<std::string> rest;
   for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--trace") {
         g.trace = true;
      } else if (args[i] == "--state") {
         if (i + 1 >= args.size()) throw InputError("--state needs a value: --state DIR");
         g.state = args[++i];
      } else if (args[i].rfind("--state=", 0) == 0) {
         g.state = args[i].substr(8);
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
      return c.run(parsed, global);
   }
   std::string typed = args[0];
   if ((typed == "chip" || typed == "default") && args.size() > 1) typed += " " + args[1];
   throw InputError("unknown command '" + typed + "' (see 'twicenat --help')");
}

}  // namespace

}  // namespace TwiceNatCli

int main(int argc, char** argv) {
   using namespace TwiceNatCli;
   try {
      return run(std::vector<std::string>(argv + 1, argv + argc));
   } catch (InputError const& e) {
      std::cerr << "twicenat: " << e.what() << "\n";
      return kExitBadInput;
   } catch (...) {
      if (auto sdk = sdkFailureText(std::current_exception())) {
         std::cerr << "twicenat: SDK failure: " << *sdk << "\n";
         return kExitSdkFailure;
      }
      try {
         throw;
      } catch (std::exception const& e) {
         std::cerr << "twicenat: " << e.what() << "\n";
      } catch (...) {
         std::cerr << "twicenat: unknown failure\n";
      }
      return kExitSdkFailure;
   }
}
