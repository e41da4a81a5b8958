#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"

#include "EntryTextCanonical.h"

namespace BfTwiceNatAddrOnly {

namespace {

// Reads one spec attribute; a range error anywhere in it is re-raised naming the attribute.
template <class Spec>
Pemra::Ptr<Spec const> specRead(Zin::CharRange& in, std::string_view attribute) {
   try {
      return Zin::sequenceToObject<Spec const>(in, Spec::type());
   } catch (Zin::RangeException const& e) {
      Zin::deserializeAttributeRethrow(e, attribute);
   }
}

// Room for the longest text of a match spec: its class and attribute names, and every number
// at its widest.
constexpr std::size_t kMatchStrepRoom = 200;

}  // namespace

TwiceNatAddrOnlyTableEntry::TwiceNatAddrOnlyTableEntry(Zin::CharRange& in) {
   if (canonicalEntryRead(in, match_, action_)) return;
   // Members start null; on any throw below they release what they already hold.
   Zin::stringExpect(in, kEntryStrepOpen);
   Zin::stringExpect(in, kEntryStrepMatch);
   match_ = specRead<TwiceNatAddrOnlyMatchSpec>(in, "match");
   Zin::stringExpect(in, kEntryStrepAction);
   action_ = specRead<TwiceNatAddrOnlyBaseActionSpec>(in, "action");
   Zin::stringExpect(in, kEntryStrepClose);
}

Pemra::String valueToStrep(TwiceNatAddrOnlyTableEntry const& entry) {
   // The action's text first, then the match's, written where it goes.
   Pemra::String const action = Zin::objectToStrep(entry.action().ptr());
   Pemra::String out;
   out.reserve(kEntryStrepOpen.size() + kEntryStrepMatch.size() + kMatchStrepRoom +
               kEntryStrepAction.size() + action.size() + kEntryStrepClose.size());
   out.append(kEntryStrepOpen).append(kEntryStrepMatch);
   Zin::objectStrepAppend(out, entry.match().ptr());
   out.append(kEntryStrepAction).append(action).append(kEntryStrepClose);
   return out;
}

std::ostream& operator<<(std::ostream& os, TwiceNatAddrOnlyTableEntry const& entry) {
   return os << valueToStrep(entry);
}

Pemra::String twiceNatAddrOnlyTableEntryStrep(Zin::Value const& v) {
   return valueToStrep(Zin::valueAs<TwiceNatAddrOnlyTableEntry>(v));
}

Zin::Value twiceNatAddrOnlyTableEntryFromStrep(Pemra::String const& text) {
   return Zin::valueOf(Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(text));
}

Zin::Value twiceNatAddrOnlyTableEntryFromSequence(Zin::CharRange& in) {
   return Zin::valueOf(TwiceNatAddrOnlyTableEntry(in));
}

}  // namespace BfTwiceNatAddrOnly
