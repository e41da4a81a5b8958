#pragma once
// One line of a file `load` reads, as the update it asks for:
//   DST SRC VRF ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]   program the entry
//   Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {...})  the same, in text form
//   default ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]        set the default action
//   (the text form with 'match': None is the default too)
//   - DST SRC VRF [ACTION ...]  or  - Value(...)                       delete the entry
//   - default                                                          reset the default
// Blank lines and '#' comments ask for nothing.
#include <optional>
#include <string_view>

#include "agent/core/AgentCore.h"

namespace TwiceNatCli {

// Nothing for a line that asks for nothing; InputError saying what is wrong.
std::optional<TwiceNatAgent::Update> parseLoadLine(std::string_view line);

// The line `load` reads back as `update` (the column form).
std::string loadLineOf(TwiceNatAgent::Update const& update);

}  // namespace TwiceNatCli
