#pragma once
// What the command line says of itself, all made from the command table, so that a new command
// gets its help, its place in the general help, its completion and its man page section with
// nothing more: the general help, a group's ('chip', 'default'), a command's, the version.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "agent/cli/Args.h"

namespace TwiceNatCli {

// The options a command line may carry anywhere, before or after its command.
std::vector<OptionSpec> const& globalOptions();
// What twicenat is and how it reads numbers: the general help's and the man page's text.
std::string_view description();
std::string globalHelp();
// The first words of the commands named by two words ("chip", "default"), in table order.
std::vector<std::string_view> commandGroups();
bool isCommandGroup(std::string_view word);
std::string groupHelp(std::string_view group);
// What 'twicenat help WORDS' prints: the general help for no words, a group's or a command's
// help; nothing when the words name neither.
std::optional<std::string> helpFor(std::span<std::string const> words);
// The package's version, "0.1.0".
std::string_view version();

}  // namespace TwiceNatCli
