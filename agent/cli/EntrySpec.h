#pragma once
// An entry as the agent's commands name it, in the core's values (addresses, VRF, action and
// parameters), read from command options and file lines.
#include <array>
#include <string>
#include <string_view>

#include "agent/core/EntrySpecs.h"

namespace TwiceNatCli {

class ParsedArgs;

using TwiceNatAgent::ActionKind;
using TwiceNatAgent::ActionValues;
using TwiceNatAgent::EntrySpec;
using TwiceNatAgent::MatchKey;
using TwiceNatAgent::MatchKeyHash;
using MatchPtr = TwiceNatAgent::MatchSpecPtr;
using ActionPtr = TwiceNatAgent::ActionSpecPtr;
using TwiceNatAgent::actionSpecOf;
using TwiceNatAgent::actionValuesOf;
using TwiceNatAgent::dotted;
using TwiceNatAgent::keyText;
using TwiceNatAgent::matchKeyOf;
using TwiceNatAgent::matchSpecOf;

// "onMiss", "hit"/"twiceNatAddrOnlyHit", "ecmp"/"twiceNatAddrOnlyHitEcmp"; InputError else.
ActionKind parseActionKind(std::string_view text);
std::string_view actionName(ActionKind kind);

// From command options: the key (--dst, --src, --vrf) and the action (--action and its
// parameters). InputError for anything missing, out of range or not meant for the action.
MatchKey matchKeyFromArgs(ParsedArgs const& args);
ActionValues actionFromArgs(ParsedArgs const& args);

// The columns of a line, split at blanks and tabs without an allocation; past kMax they are
// only counted (no line of an entry file has that many).
struct Columns {
   static constexpr std::size_t kMax = 12;
   std::array<std::string_view, kMax> at{};
   std::size_t count = 0;
   std::size_t size() const { return count; }
   std::string_view operator[](std::size_t i) const { return at[i]; }
};
Columns splitColumns(std::string_view line);

// The column form "DST SRC VRF ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]" of a
// line already split; InputError as parseEntryLine.
EntrySpec parseColumns(Columns const& columns);

// One line of an entry file: the system's text form of a table entry
// "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {...})", or the column form
// "DST SRC VRF ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]" (VRF "-" for none).
// InputError with a message that names what is wrong.
EntrySpec parseEntryLine(std::string_view line);

// Readable parameters: "keyId=1 rwId=2 prot=6 frag=0 nextHop=7".
std::string paramsText(ActionValues const& action);

}  // namespace TwiceNatCli
