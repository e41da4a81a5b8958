#pragma once
// The text of an entry with a hit or ECMP action exactly as valueToStrep writes it, read
// straight into the match and action spec objects instead of through the registry's generic walk:
// what entry files and traces hold, read often. Any other text (another action, other spacing, a
// field out of its range, a mark that disagrees with the fields) is left to the generic reader,
// which builds the same objects from the canonical text and gives the errors for every other.
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecs.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "Zin/CharRange.h"

namespace BfTwiceNatAddrOnly {

// True when the front of `in` is such a text: `match` and `action` are then the new objects
// and `in` has moved past it. False leaves all three as they were.
bool canonicalEntryRead(Zin::CharRange& in, TwiceNatAddrOnlyMatchSpec::PtrConst& match,
                        TwiceNatAddrOnlyBaseActionSpec::PtrConst& action);

}  // namespace BfTwiceNatAddrOnly
