#pragma once
// Text form of a table entry:
//    Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {'match': %s, 'action': %s})
// where each %s is the runtime's generic text of the match or action object (None when null).
// `valueToStrep`, `operator<<` and the range constructor are declared with the entry;
// Zin::strepToValue<TwiceNatAddrOnlyTableEntry> is the whole-string parse.
#include <string_view>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"
#include "Zin/Strep.h"

namespace BfTwiceNatAddrOnly {

// The literal pieces, in the order the parser requires them.
inline constexpr std::string_view kEntryStrepOpen =
    "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {";
inline constexpr std::string_view kEntryStrepMatch = "'match': ";
inline constexpr std::string_view kEntryStrepAction = ", 'action': ";
inline constexpr std::string_view kEntryStrepClose = "})";

// Hooks for the entry's value-type descriptor.
Pemra::String twiceNatAddrOnlyTableEntryStrep(Zin::Value const& v);
Zin::Value twiceNatAddrOnlyTableEntryFromStrep(Pemra::String const& text);
Zin::Value twiceNatAddrOnlyTableEntryFromSequence(Zin::CharRange& in);

}  // namespace BfTwiceNatAddrOnly
