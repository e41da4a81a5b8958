#include "agent/cli/Args.h"

#include <algorithm>
#include <charconv>

#include "agent/cli/InputError.h"
#include "agent/service/EntryFields.h"

namespace TwiceNatCli {

namespace {

OptionSpec const* findOption(CommandSpec const& spec, std::string_view name) {
   for (OptionSpec const& o : spec.options) {
      if (o.name == name) return &o;
   }
   return nullptr;
}

std::string seeHelp(CommandSpec const& spec) {
   return " (see 'twicenat " + std::string(spec.name) + " --help')";
}

}  // namespace

std::optional<std::string> ParsedArgs::value(std::string_view name) const {
   auto it = values_.find(name);
   if (it == values_.end()) return std::nullopt;
   return it->second;
}

U64 ParsedArgs::number(std::string_view name, U64 max, U64 fallback) const {
   auto v = value(name);
   return v ? parseNumber(*v, "--" + std::string(name), max) : fallback;
}

U32 ParsedArgs::address(std::string_view name) const {
   auto v = value(name);
   if (!v) throw InputError("missing --" + std::string(name) + " A.B.C.D");
   return parseIpv4(*v, "--" + std::string(name));
}

ParsedArgs parseArgs(std::span<std::string const> args, CommandSpec const& spec) {
   ParsedArgs out;
   out.raw_.assign(args.begin(), args.end());
   for (std::size_t i = 0; i < args.size(); ++i) {
      std::string_view arg = args[i];
      if (arg == "--help" || arg == "-h") {
         out.help_ = true;
         return out;
      }
      if (arg.size() < 2 || arg[0] != '-') {
         out.positional_.emplace_back(arg);
         continue;
      }
      if (arg[1] != '-') {
         throw InputError("unknown option '" + cut(arg) + "' for '" + std::string(spec.name) + "'" +
                          seeHelp(spec));
      }
      std::string_view name = arg.substr(2);
      std::optional<std::string> inlineValue;
      if (auto eq = name.find('='); eq != std::string_view::npos) {
         inlineValue = std::string(name.substr(eq + 1));
         name = name.substr(0, eq);
      }
      OptionSpec const* opt = findOption(spec, name);
      if (!opt) {
         throw InputError("unknown option '--" + cut(name) + "' for '" + std::string(spec.name) +
                          "'" + seeHelp(spec));
      }
      std::string key(name);
      if (out.values_.count(key)) throw InputError("--" + key + " given twice");
      if (opt->valueName.empty()) {
         if (inlineValue) throw InputError("--" + key + " takes no value");
         out.values_[key] = "";
      } else if (inlineValue) {
         out.values_[key] = *inlineValue;
      } else if (opt->valueName.front() == '[') {
         // An optional value: the next argument, unless it is an option or there is none.
         bool const given = i + 1 < args.size() && !args[i + 1].starts_with("-");
         out.values_[key] = given ? args[++i] : "";
      } else {
         if (i + 1 >= args.size()) {
            throw InputError("--" + key + " needs a value: --" + key + " " +
                             std::string(opt->valueName));
         }
         out.values_[key] = args[++i];
      }
   }
   if (out.positional_.size() != spec.positionals) {
      throw InputError("'" + std::string(spec.name) + "' takes " +
                       (spec.positionals ? std::string(spec.usage) : std::string("no arguments")) +
                       ", got " + std::to_string(out.positional_.size()) + " argument(s)" +
                       seeHelp(spec));
   }
   return out;
}

// Built by appending: "literal" + std::string(...) trips GCC 12's -Wrestrict at -O3.
std::string helpText(CommandSpec const& spec) {
   std::string text = "usage: twicenat [--state DIR] [--trace] ";
   text += spec.name;
   if (!spec.usage.empty()) (text += ' ') += spec.usage;
   ((text += "\n\n") += wrapped(spec.summary, kHelpWidth)) += '\n';
   if (!spec.options.empty()) (text += "\noptions:\n") += optionsText(spec.options);
   return text;
}

std::string optionsText(std::vector<OptionSpec> const& options) {
   std::string text;
   for (OptionSpec const& o : options) {
      std::string left = "  --";
      left += o.name;
      if (!o.valueName.empty()) (left += ' ') += o.valueName;
      left.resize(std::max<std::size_t>(left.size(), 26), ' ');
      (((text += left) += ' ') += wrapped(o.help, kHelpWidth, left.size() + 1)) += '\n';
   }
   return text;
}

std::string wrapped(std::string_view text, std::size_t width, std::size_t indent) {
   std::string out;
   std::size_t column = indent;  // the first line continues what stands before it
   for (std::size_t at = 0; at <= text.size();) {
      std::size_t const end = std::min(text.find('\n', at), text.size());
      std::string_view const line = text.substr(at, end - at);
      if (at != 0) (out += '\n').append(column = indent, ' ');
      if (!line.empty() && line[0] == ' ') {
         out += line;  // laid out by hand
      } else {
         bool first = true;
         for (std::size_t w = line.find_first_not_of(' '); w != std::string_view::npos;) {
            std::size_t const wend = std::min(line.find(' ', w), line.size());
            std::size_t const len = wend - w;
            if (!first && column + 1 + len > width) {
               (out += '\n').append(column = indent, ' ');
            } else if (!first) {
               out += ' ';
               ++column;
            }
            out += line.substr(w, len);
            column += len;
            first = false;
            w = line.find_first_not_of(' ', wend);
         }
      }
      at = end + 1;
   }
   return out;
}

U64 parseNumber(std::string_view text, std::string_view what, U64 max) {
   U64 v = 0;
   int base = 10;
   std::string_view digits = text;
   if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      base = 16;
      digits = digits.substr(2);
   }
   auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
   if (digits.empty() || end != digits.data() + digits.size() ||
       ec == std::errc::invalid_argument) {
      throw InputError(std::string(what) + ": '" + cut(text) + "' is not a number");
   }
   if (ec == std::errc::result_out_of_range || v > max) {
      throw InputError(std::string(what) + ": " + cut(text) + " is out of range (0 to " +
                       std::to_string(max) + ")");
   }
   return v;
}

U32 parseIpv4(std::string_view text, std::string_view what) {
   TwiceNatService::DottedQuad const q = TwiceNatService::parseDottedQuad(text);
   if (q.problem) throw InputError(std::string(what) + ": '" + cut(text) + "' " + q.problem);
   return q.value;
}

std::string cut(std::string_view text, std::size_t max) {
   // Control characters are spelled out, so a message stays one line whatever was typed.
   std::string shown;
   for (char c : text) {
      if (c == '\n') {
         shown += "\\n";
      } else if (c == '\t') {
         shown += "\\t";
      } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
         static constexpr char kHex[] = "0123456789abcdef";
         shown += "\\x";
         shown += kHex[(c >> 4) & 0xf];
         shown += kHex[c & 0xf];
      } else {
         shown += c;
      }
   }
   if (shown.size() <= max || max < 4) return shown;
   return shown.substr(0, max - 3) + "...";
}

}  // namespace TwiceNatCli
