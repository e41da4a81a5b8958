#include "agent/cli/Completion.h"

#include <algorithm>
#include <map>
#include <vector>

#include "agent/cli/Commands.h"
#include "agent/cli/Help.h"

namespace TwiceNatCli {

namespace {

// What a value is, as the script's helper takes it: @dir, @file, or the words to offer.
std::string valueKind(std::string_view valueName) {
   if (valueName == "DIR") return "@dir";
   if (valueName == "FILE") return "@file";
   if (valueName.find('|') == std::string_view::npos) return "";
   std::string words(valueName);
   std::replace(words.begin(), words.end(), '|', ' ');
   return words;
}

std::string options(std::vector<OptionSpec> const& list) {
   std::string text;
   for (OptionSpec const& o : list)
      ((text += text.empty() ? "--" : " --") += o.name);
   return text;
}

// The part of the script that never changes: how words are taken and values offered.
constexpr char kFunctions[] = R"(
# Offers the values of one kind that start with $2.
_twicenat_offer() {
   case $1 in
   @dir)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -d -- "$2"))
      ;;
   @file)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -f -- "$2"))
      ;;
   *) COMPREPLY=($(compgen -W "$1" -- "$2")) ;;
   esac
}

# Succeeds when option $2 of command $1 takes a value; sets kind to what it is.
_twicenat_value_of() {
   if [[ -n ${_twicenat_values["$1 $2"]+x} ]]; then
      kind=${_twicenat_values["$1 $2"]}
   elif [[ -n ${_twicenat_values["$2"]+x} ]]; then
      kind=${_twicenat_values["$2"]}
   else
      return 1
   fi
}

_twicenat() {
   COMPREPLY=()
   # The words up to the cursor as typed: bash splits --option=value at the '='.
   local -a words=()
   local i w
   for ((i = 1; i <= COMP_CWORD; i++)); do
      w=${COMP_WORDS[i]}
      if ((${#words[@]})) && { [[ $w == "=" && ${words[-1]} == --* && ${words[-1]} != *=* ]] ||
         [[ ${words[-1]} == --*= ]]; }; then
         words[-1]+=$w
      else
         words+=("$w")
      fi
   done
   local cur=${words[-1]} cmd="" help="" kind="" waiting=""
   # The command so far, and an option still waiting for its value.
   for w in "${words[@]:0:${#words[@]}-1}"; do
      if [[ -n $waiting ]]; then
         waiting=""
      elif [[ $w == --*=* || $w == -h ]]; then
         :
      elif [[ $w == --* ]]; then
         _twicenat_value_of "$cmd" "$w" && waiting=$w
      elif [[ -z $cmd ]]; then
         cmd=$w
      elif [[ $cmd == help ]]; then
         help+=" $w"
      elif [[ -n ${_twicenat_groups["$cmd"]+x} ]]; then
         cmd+=" $w"
      fi
   done

   if [[ -n $waiting ]]; then
      _twicenat_value_of "$cmd" "$waiting" && _twicenat_offer "$kind" "$cur"
   elif [[ $cur == --*=* ]]; then
      _twicenat_value_of "$cmd" "${cur%%=*}" && _twicenat_offer "$kind" "${cur#*=}"
   elif [[ $cur == -* ]]; then
      if [[ -z $cmd ]]; then
         _twicenat_offer "$_twicenat_globals --help --version" "$cur"
      elif [[ -n ${_twicenat_options["$cmd"]+x} ]]; then
         _twicenat_offer "${_twicenat_options["$cmd"]} $_twicenat_globals --help" "$cur"
      else
         _twicenat_offer "--help" "$cur"
      fi
   elif [[ -z $cmd ]]; then
      _twicenat_offer "$_twicenat_commands" "$cur"
   elif [[ $cmd == help ]]; then
      help=${help# }
      if [[ -z $help ]]; then
         _twicenat_offer "$_twicenat_commands" "$cur"
      elif [[ -n ${_twicenat_groups["$help"]+x} && $help != *" "* ]]; then
         _twicenat_offer "${_twicenat_groups["$help"]}" "$cur"
      fi
   elif [[ -n ${_twicenat_groups["$cmd"]+x} ]]; then
      _twicenat_offer "${_twicenat_groups["$cmd"]}" "$cur"
   elif [[ -n ${_twicenat_values["$cmd"]+x} ]]; then
      _twicenat_offer "${_twicenat_values["$cmd"]}" "$cur"
   fi
}

complete -F _twicenat twicenat
)";

}  // namespace

std::string bashCompletion() {
   std::vector<std::string> top;               // the first words of the commands
   std::map<std::string, std::string> groups;  // group: its commands' second words
   std::map<std::string, std::string> commandOptions;
   std::map<std::string, std::string> values;  // "[command ]--option" or "command": kind
   for (OptionSpec const& o : globalOptions()) {
      if (!o.valueName.empty()) values["--" + std::string(o.name)] = valueKind(o.valueName);
   }
   for (Command const& c : commands()) {
      std::string const name(c.spec.name);
      std::size_t const space = name.find(' ');
      std::string const first = name.substr(0, space);
      if (space != std::string::npos) {
         std::string& words = groups[first];
         (words += words.empty() ? "" : " ") += name.substr(space + 1);
      }
      if (std::find(top.begin(), top.end(), first) == top.end()) top.push_back(first);
      commandOptions[name] = options(c.spec.options);
      for (OptionSpec const& o : c.spec.options) {
         if (!o.valueName.empty())
            values[name + " --" + std::string(o.name)] = valueKind(o.valueName);
      }
      if (c.spec.positionals > 0) {
         values[name] = c.spec.usage.find("FILE") != std::string_view::npos ? "@file" : "";
      }
   }
   top.push_back("help");

   std::string script =
       "# bash completion for twicenat, made from its command table when it was built.\n\n";
   script += "_twicenat_commands=\"";
   for (std::size_t i = 0; i < top.size(); ++i)
      (script += i ? " " : "") += top[i];
   script += "\"\n";
   script += "_twicenat_globals=\"" + options(globalOptions()) + "\"\n";
   auto table = [&](char const* name, std::map<std::string, std::string> const& rows) {
      // -g: bash-completion sources this file inside a function.
      script += "declare -gA " + std::string(name) + "=(\n";
      for (auto const& [key, value] : rows)
         script += "   [\"" + key + "\"]=\"" + value + "\"\n";
      script += ")\n";
   };
   table("_twicenat_groups", groups);
   table("_twicenat_options", commandOptions);
   table("_twicenat_values", values);
   return script + kFunctions;
}

}  // namespace TwiceNatCli
