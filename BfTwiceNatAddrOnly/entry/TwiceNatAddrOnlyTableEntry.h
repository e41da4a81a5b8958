#pragma once
// One table entry: a match spec and an action spec, each held by a count. The empty entry
// (both null) stands for "no entry".
#include <ostream>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecs.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "Zin/CharRange.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyTableEntry {
 public:
   explicit TwiceNatAddrOnlyTableEntry(TwiceNatAddrOnlyMatchSpec::PtrConst match = nullptr)
       : match_(std::move(match)) {}
   // Parses an entry from the front of `in`, consuming what it reads.
   explicit TwiceNatAddrOnlyTableEntry(Zin::CharRange& in);

   TwiceNatAddrOnlyMatchSpec::PtrConst const& match() const { return match_; }
   TwiceNatAddrOnlyBaseActionSpec::PtrConst const& action() const { return action_; }
   void actionIs(TwiceNatAddrOnlyBaseActionSpec::PtrConst action) { action_ = std::move(action); }

   bool empty() const { return !match_ && !action_; }

 private:
   TwiceNatAddrOnlyMatchSpec::PtrConst match_;
   TwiceNatAddrOnlyBaseActionSpec::PtrConst action_;
};

// Equal exactly when both refer to the same match object and the same action object.
inline bool isEq(TwiceNatAddrOnlyTableEntry const& a, TwiceNatAddrOnlyTableEntry const& b) {
   return a.match() == b.match() && a.action() == b.action();
}

// The runtime's descriptor of the entry as a value type; it has no hash.
Zin::TypeDescriptor const& twiceNatAddrOnlyTableEntryType();

// The one-line text form "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {...})".
Pemra::String valueToStrep(TwiceNatAddrOnlyTableEntry const& entry);
std::ostream& operator<<(std::ostream& os, TwiceNatAddrOnlyTableEntry const& entry);

}  // namespace BfTwiceNatAddrOnly

template <>
struct Zin::ValueTraits<BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry> {
   static Value to(BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry const& e) {
      return Value::opaque(&BfTwiceNatAddrOnly::twiceNatAddrOnlyTableEntryType(), e);
   }
   static BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry from(Value const& v) {
      auto const* e = std::any_cast<BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry>(&v.asOpaque());
      if (!e) {
         throw ValueTypeException(
             "cannot convert value to BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry");
      }
      return *e;
   }
};
