#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecType.h"

namespace BfTwiceNatAddrOnly {

Zin::EnumTable const& twiceNatAddrOnlyActionSpecTypeTable() {
   static Zin::EnumTable const table{
       "BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecType",
       {{onMissActionSpec, "onMissActionSpec"},
        {twiceNatAddrOnlyHitActionSpec, "twiceNatAddrOnlyHitActionSpec"},
        {twiceNatAddrOnlyHitEcmpActionSpec, "twiceNatAddrOnlyHitEcmpActionSpec"}}};
   return table;
}

Zin::TypeDescriptor const& twiceNatAddrOnlyActionSpecTypeType() {
   static Zin::TypeDescriptor* d = [] {
      auto* t = new Zin::TypeDescriptor("BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecType",
                                        Zin::TypeDescriptor::Kind::enumeration);
      t->enumTable = &twiceNatAddrOnlyActionSpecTypeTable();
      return t;
   }();
   return *d;
}

TwiceNatAddrOnlyActionSpecType TwiceNatAddrOnlyActionSpecTypeInstance(U32 value) {
   return static_cast<TwiceNatAddrOnlyActionSpecType>(
       Zin::enumValue(twiceNatAddrOnlyActionSpecTypeTable(),
                      Zin::enumName(twiceNatAddrOnlyActionSpecTypeTable(), value)));
}

TwiceNatAddrOnlyActionSpecType TwiceNatAddrOnlyActionSpecTypeInstance(Pemra::String const& name) {
   return static_cast<TwiceNatAddrOnlyActionSpecType>(
       Zin::enumValue(twiceNatAddrOnlyActionSpecTypeTable(), name));
}

Pemra::String stringValue(TwiceNatAddrOnlyActionSpecType value) {
   return Zin::enumName(twiceNatAddrOnlyActionSpecTypeTable(), value);
}

Pemra::String valueToStrep(TwiceNatAddrOnlyActionSpecType const& value) {
   return stringValue(value);
}

std::ostream& operator<<(std::ostream& os, TwiceNatAddrOnlyActionSpecType const& value) {
   for (Zin::EnumRow const& row : twiceNatAddrOnlyActionSpecTypeTable().rows) {
      if (row.value == value) return os << row.name;
   }
   return os << static_cast<unsigned>(value);
}

TwiceNatAddrOnlyActionSpecType sequenceToValue(Zin::CharRange& in,
                                               TwiceNatAddrOnlyActionSpecType*) {
   return static_cast<TwiceNatAddrOnlyActionSpecType>(
       Zin::enumValueFromRange(twiceNatAddrOnlyActionSpecTypeTable(), in));
}

}  // namespace BfTwiceNatAddrOnly
