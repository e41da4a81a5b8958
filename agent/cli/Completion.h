#pragma once
// The bash completion of twicenat, made from the command table when twicenat is built, so it
// cannot drift from what the commands take: commands and groups, each command's options and the
// global ones, and what a value is (a folder for DIR, a file for FILE, one of the choices of
// a|b|c), also after --option=.
#include <string>

namespace TwiceNatCli {

std::string bashCompletion();

}  // namespace TwiceNatCli
