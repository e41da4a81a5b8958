#pragma once
// An entry as the agent names it: by its contents (addresses, VRF, action and parameters).
// Every front end (command line, socket, P4Runtime) meets the core in these values; the core
// turns them into the library's spec objects.
#include <cstddef>
#include <string_view>

#include "Zin/Types.h"

namespace TwiceNatAgent {

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
   U16 target = 0;  // next hop (hit) or ECMP group (ecmp); 0 for onMiss
   bool operator==(ActionValues const&) const = default;
};

struct EntrySpec {
   MatchKey match;
   ActionValues action;
};

// "onMiss", "twiceNatAddrOnlyHit", "twiceNatAddrOnlyHitEcmp": the P4 action names.
std::string_view p4ActionName(ActionKind kind);

}  // namespace TwiceNatAgent
