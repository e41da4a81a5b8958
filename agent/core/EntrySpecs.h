#pragma once
// The core's values as the library's spec objects and back, and a key as messages name it.
#include <optional>
#include <string>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"
#include "agent/core/EntryValues.h"

namespace TwiceNatAgent {

using MatchSpecPtr = BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::PtrConst;
using ActionSpecPtr = BfTwiceNatAddrOnly::TwiceNatAddrOnlyBaseActionSpec::PtrConst;

// New spec objects with these contents.
MatchSpecPtr matchSpecOf(MatchKey const& key);
ActionSpecPtr actionSpecOf(ActionValues const& action);
MatchKey matchKeyOf(BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec const& match);
// Nothing for an action whose class is not the one its actionType names.
std::optional<ActionValues> actionValuesOf(
    BfTwiceNatAddrOnly::TwiceNatAddrOnlyBaseActionSpec const& action);

// "10.0.0.1"; "dst 10.0.0.1 src 192.168.1.1 vrf 1" (the VRF only when given).
std::string dotted(U32 addr);
std::string keyText(MatchKey const& key);

}  // namespace TwiceNatAgent
