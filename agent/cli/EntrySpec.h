#pragma once
// An entry as the agent's commands name it: by its contents (addresses, VRF, action and
// parameters). Commands, option parsing and file lines all meet in these values, and the
// agent session turns them into the library's spec objects.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"

namespace TwiceNatCli {

class ParsedArgs;

enum class ActionKind : U8 { onMiss, hit, ecmp };

struct MatchKey {
   U32 dip = 0;
   U32 sip = 0;
   U16 vrf = 0;
   bool vrfGiven = false;
   // Two keys name the same chip entry when their addresses and VRF agree; a VRF never given
   // is VRF 0 to the chip.
   bool operator==(MatchKey const& o) const { return dip == o.dip && sip == o.sip && vrf == o.vrf; }
};

struct MatchKeyHash {
   std::size_t operator()(MatchKey const& k) const {
      U64 h = (U64(k.dip) << 32 | k.sip) * 0x9E3779B97F4A7C15ull;
      return std::size_t(h ^ (h >> 29) ^ (U64(k.vrf) * 0xC2B2AE3D27D4EB4Full));
   }
};

struct ActionValues {
   ActionKind kind = ActionKind::onMiss;
   U16 keyId = 0;
   U16 rwId = 0;
   U8 prot = 0;
   U8 frag = 0;
   U16 target = 0;  // next hop (hit) or ECMP group (ecmp)
};

struct EntrySpec {
   MatchKey match;
   ActionValues action;
};

using MatchPtr = BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::PtrConst;
using ActionPtr = BfTwiceNatAddrOnly::TwiceNatAddrOnlyBaseActionSpec::PtrConst;

// New spec objects with these contents.
MatchPtr matchSpecOf(MatchKey const& key);
ActionPtr actionSpecOf(ActionValues const& action);
MatchKey matchKeyOf(BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec const& match);
// Nothing for an action whose class is not the one its actionType names.
std::optional<ActionValues> actionValuesOf(
    BfTwiceNatAddrOnly::TwiceNatAddrOnlyBaseActionSpec const& action);

// "onMiss", "hit"/"twiceNatAddrOnlyHit", "ecmp"/"twiceNatAddrOnlyHitEcmp"; InputError else.
ActionKind parseActionKind(std::string_view text);
std::string_view actionName(ActionKind kind);

// From command options: the key (--dst, --src, --vrf) and the action (--action and its
// parameters). InputError for anything missing, out of range or not meant for the action.
MatchKey matchKeyFromArgs(ParsedArgs const& args);
ActionValues actionFromArgs(ParsedArgs const& args);

// One line of an entry file: the system's text form of a table entry
// "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {...})", or the column form
// "DST SRC VRF ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]" (VRF "-" for none).
// InputError with a message that names what is wrong.
EntrySpec parseEntryLine(std::string_view line);

// Readable pieces: "10.0.0.1", "keyId=1 rwId=2 prot=6 frag=0 nextHop=7".
std::string dotted(U32 addr);
std::string paramsText(ActionValues const& action);
std::string keyText(MatchKey const& key);

}  // namespace TwiceNatCli
