#pragma once
// twicenat(1) in scdoc's markup, made from the command table and the general help when twicenat
// is built; scdoc turns it into the man page.
#include <string>

namespace TwiceNatCli {

std::string manPageScdoc();

}  // namespace TwiceNatCli
