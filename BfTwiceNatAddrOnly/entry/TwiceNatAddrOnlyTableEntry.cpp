#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"

namespace BfTwiceNatAddrOnly {

Zin::TypeDescriptor const& twiceNatAddrOnlyTableEntryType() {
   // `match` is given at construction only, so a generic set of it is refused; `action` is set
   // through actionIs. The type has no hash: asking for one is the runtime's unhashable error.
   static Zin::TypeDescriptor* d = [] {
      using E = TwiceNatAddrOnlyTableEntry;
      auto* t = new Zin::TypeDescriptor("BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry",
                                        Zin::TypeDescriptor::Kind::value);
      Zin::AttributeDescriptor match;
      match.name = "match";
      match.valueGet = [](std::any const& e) {
         return Zin::valueOf(std::any_cast<E const&>(e).match());
      };
      t->attributeIs(std::move(match));
      Zin::AttributeDescriptor action;
      action.name = "action";
      action.valueGet = [](std::any const& e) {
         return Zin::valueOf(std::any_cast<E const&>(e).action());
      };
      action.valueSet = [](std::any& e, Zin::Value const& v) {
         std::any_cast<E&>(e).actionIs(Zin::valueAs<TwiceNatAddrOnlyBaseActionSpec::PtrConst>(v));
      };
      t->attributeIs(std::move(action));
      t->strep = twiceNatAddrOnlyTableEntryStrep;
      t->fromStrep = twiceNatAddrOnlyTableEntryFromStrep;
      t->fromSequence = twiceNatAddrOnlyTableEntryFromSequence;
      return t;
   }();
   return *d;
}

}  // namespace BfTwiceNatAddrOnly
