#pragma once
// Command-line options of one command: declared as a table, parsed into values, and turned
// into the command's --help text. Values are checked where they are read (numbers against the
// width of the field they go to, addresses as dotted quads).
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Zin/Types.h"

namespace TwiceNatCli {

struct OptionSpec {
   std::string_view name;       // without the leading "--"
   std::string_view valueName;  // empty for a flag; "[NAME]" for a value that may be left out
   std::string_view help;
};

struct CommandSpec {
   std::string_view name;   // as typed, e.g. "chip create"
   std::string_view usage;  // the arguments after the name
   std::string_view brief;  // the one line 'twicenat --help' gives it
   std::string_view summary;
   std::vector<OptionSpec> options;
   std::size_t positionals = 0;  // exactly this many positional arguments
};

class ParsedArgs {
 public:
   bool has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
   std::optional<std::string> value(std::string_view name) const;
   std::vector<std::string> const& positional() const { return positional_; }
   bool help() const { return help_; }
   // The arguments as typed, which an agent parses again.
   std::vector<std::string> const& raw() const { return raw_; }

   // The value of `name` as an unsigned number of at most `max`; `fallback` when absent.
   U64 number(std::string_view name, U64 max, U64 fallback) const;
   // The value of `name` as a dotted IPv4 address; InputError when it is absent.
   U32 address(std::string_view name) const;

 private:
   friend ParsedArgs parseArgs(std::span<std::string const> args, CommandSpec const& spec);
   std::map<std::string, std::string, std::less<>> values_;
   std::vector<std::string> positional_;
   std::vector<std::string> raw_;
   bool help_ = false;
};

// Throws InputError for an unknown option, a missing value or a wrong number of positionals.
ParsedArgs parseArgs(std::span<std::string const> args, CommandSpec const& spec);
std::string helpText(CommandSpec const& spec);
// One line per option: "  --name VALUE   help".
std::string optionsText(std::vector<OptionSpec> const& options);
// Help text is broken at blanks into lines of at most this many columns.
constexpr std::size_t kHelpWidth = 79;
// `text` broken so: each line after the first starts with `indent` blanks, and the first
// continues a line that already holds `indent` columns. A line of `text` that begins with a
// blank is laid out by hand and kept as it is.
std::string wrapped(std::string_view text, std::size_t width, std::size_t indent = 0);

// Value parsers; `what` names the value in the message ("--vrf", "VRF").
U64 parseNumber(std::string_view text, std::string_view what, U64 max);
U32 parseIpv4(std::string_view text, std::string_view what);

// `text` as a message quotes it: on one line (control characters spelled out as \\n, \\xNN),
// at most `max` characters, cut ones marked with "...".
std::string cut(std::string_view text, std::size_t max = 64);

}  // namespace TwiceNatCli
