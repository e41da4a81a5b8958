#include "agent/cli/Help.h"

#include <algorithm>

#include "agent/cli/Commands.h"

namespace TwiceNatCli {

namespace {

constexpr char kUsage[] = "usage: twicenat [--state DIR] [--trace] [--no-wait] ";

std::string commandList(std::string_view group) {
   std::string text;
   for (Command const& c : commands()) {
      std::string_view const name = c.spec.name;
      if (!group.empty() && name.substr(0, name.find(' ')) != group) continue;
      std::string line = "  " + std::string(name);
      line.resize(std::max<std::size_t>(line.size() + 1, 17), ' ');
      (text += line) += c.spec.brief;
      text += '\n';
   }
   return text;
}

}  // namespace

std::vector<OptionSpec> const& globalOptions() {
   static std::vector<OptionSpec> const options = {
       {"state", "DIR",
        "state folder (default: $TWICENAT_STATE, else $XDG_STATE_HOME/twicenat or "
        "~/.local/state/twicenat)"},
       {"trace", "", "write the library's trace (level 9) to stderr"},
       {"no-wait", "", "fail at once (exit status 1) when another command holds the folder"},
       {"timeout", "SECONDS",
        "give up (exit status 1) when the serving agent does not take a connection or request, "
        "or send a reply, within SECONDS (default 10; a fraction such as 0.5 is taken); also "
        "how long load waits for a FIFO's writer"},
   };
   return options;
}

std::string_view description() {
   return "The command-line agent of the twiceNatAddrOnly table on a simulated chip. 'serve' "
          "keeps the table of a state folder and the other commands ask it over "
          "DIR/agent.sock; with no agent serving, a command opens the chip and the key table "
          "itself, under the folder's lock.\n"
          "\n"
          "Numbers (VRF, ids, next hops, capacities) are decimal, or hexadecimal with 0x: "
          "--vrf 0x10 is VRF 16.";
}

std::string globalHelp() {
   std::string text = kUsage;
   text += "COMMAND [OPTIONS]\n       twicenat help [COMMAND] | --help | --version\n\n";
   ((text += wrapped(description(), kHelpWidth)) += "\n\nglobal options:\n") +=
       optionsText(globalOptions());
   (text += "\ncommands:\n") += commandList("");
   std::string groups;
   for (std::string_view g : commandGroups())
      ((groups += groups.empty() ? "'" : ", '") += g) += '\'';
   std::string const more =
       "'twicenat help COMMAND' or 'twicenat COMMAND --help' describes a "
       "command, or a group of them: " +
       groups + ".";
   return text + "\n" + wrapped(more, kHelpWidth) + "\n";
}

std::vector<std::string_view> commandGroups() {
   std::vector<std::string_view> groups;
   for (Command const& c : commands()) {
      std::string_view const name = c.spec.name;
      std::size_t const space = name.find(' ');
      if (space == std::string_view::npos) continue;
      std::string_view const group = name.substr(0, space);
      if (std::find(groups.begin(), groups.end(), group) == groups.end()) groups.push_back(group);
   }
   return groups;
}

bool isCommandGroup(std::string_view word) {
   std::vector<std::string_view> const groups = commandGroups();
   return std::find(groups.begin(), groups.end(), word) != groups.end();
}

std::string groupHelp(std::string_view group) {
   std::string text = kUsage;
   ((text += group) += " COMMAND [OPTIONS]\n\ncommands:\n") += commandList(group);
   ((text += "\n'twicenat ") += group) += " COMMAND --help' describes a command.\n";
   return text;
}

std::optional<std::string> helpFor(std::span<std::string const> words) {
   if (words.empty()) return globalHelp();
   std::string name;
   for (std::string const& w : words)
      (name += name.empty() ? "" : " ") += w;
   if (Command const* c = commandNamed(name)) return helpText(c->spec);
   if (words.size() == 1 && isCommandGroup(name)) return groupHelp(name);
   return std::nullopt;
}

std::string_view version() {
   return TWICENAT_VERSION;
}

}  // namespace TwiceNatCli
