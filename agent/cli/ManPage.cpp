#include "agent/cli/ManPage.h"

#include "agent/cli/Commands.h"
#include "agent/cli/Help.h"

namespace TwiceNatCli {

namespace {

// scdoc's markup characters stand for themselves; an indented line keeps its indent as a tab,
// which is scdoc's.
std::string plain(std::string_view text) {
   std::string out;
   bool lineStart = true;
   for (std::size_t i = 0; i < text.size(); ++i) {
      char const c = text[i];
      if (lineStart && c == ' ') {
         std::size_t const end = text.find_first_not_of(' ', i);
         out += '\t';
         i = (end == std::string_view::npos ? text.size() : end) - 1;
         lineStart = false;
         continue;
      }
      lineStart = c == '\n';
      if (c == '\\' || c == '*' || c == '_') out += '\\';
      out += c;
   }
   return out;
}

// Appends each part in turn ("literal" + std::string trips GCC 12's -Wrestrict at -O3).
template <class... Parts>
void append(std::string& to, Parts const&... parts) {
   (to.append(parts), ...);
}

std::string optionItems(std::vector<OptionSpec> const& options) {
   std::string text;
   for (OptionSpec const& o : options) {
      append(text, "*--", plain(o.name), "*");
      if (!o.valueName.empty()) append(text, " _", plain(o.valueName), "_");
      append(text, "\n\t", plain(o.help), "\n\n");
   }
   return text;
}

constexpr char kRest[] = R"(# ENVIRONMENT

*TWICENAT\_STATE*
	The state folder when *--state* is not given.

*XDG\_STATE\_HOME*
	With neither, the state folder is $XDG\_STATE\_HOME/twicenat, else
	~/.local/state/twicenat.

*TWICENAT\_SDK\_LIB*
	The SDK library to load in place of the one installed with twicenat.

*NOTIFY\_SOCKET*, *JOURNAL\_STREAM*
	Set by systemd: *serve* tells it there when it is ready and when it stops, and logs to
	the journal.

# FILES

_DIR_/chip
	The simulated chip.

_DIR_/keys
	The shared-memory key table.

_DIR_/lock
	Held by the agent that serves the folder, or by the command that runs in it.

_DIR_/agent.sock
	The socket on which *serve* answers the other commands.

# EXIT STATUS

*0*
	Done.

*1*
	The SDK failed, no agent serves the folder (*status*, *stop*), or another command holds
	it (*--no-wait*).

*2*
	Bad input: an unknown command or option, a value out of range, a bad line of a file, a
	missing chip. Nothing was changed.

# SEE ALSO

The systemd unit *twicenat@.service* runs *serve* for the state folder
/var/lib/twicenat/_NAME_ of an instance _NAME_: *systemctl start twicenat@*_NAME_.
)";

}  // namespace

std::string manPageScdoc() {
   std::string page;
   append(page, "twicenat(1) \"twicenat ", version(), "\"\n\n",
          "# NAME\n\ntwicenat - the command-line agent of the twiceNatAddrOnly table\n\n",
          "# SYNOPSIS\n\n*twicenat* [*--state* _DIR_] [*--trace*] [*--no-wait*] _COMMAND_ "
          "[_OPTIONS_]\n\n*twicenat help* [_COMMAND_] | *--help* | *--version*\n\n",
          "# DESCRIPTION\n\n", plain(description()), "\n\n", "# GLOBAL OPTIONS\n\n",
          optionItems(globalOptions()), "# COMMANDS\n\n");
   for (Command const& c : commands()) {
      append(page, "## ", plain(c.spec.name), "\n\n*twicenat ", plain(c.spec.name), "*");
      if (!c.spec.usage.empty()) append(page, " ", plain(c.spec.usage));
      append(page, "\n\n", plain(c.spec.summary), "\n\n", optionItems(c.spec.options));
   }
   return page + kRest;
}

}  // namespace TwiceNatCli
