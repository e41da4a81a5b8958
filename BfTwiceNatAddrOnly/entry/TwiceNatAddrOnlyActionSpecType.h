#pragma once
// Which P4 action an action spec stands for.
#include <ostream>

#include "Pemra/String.h"
#include "Zin/CharRange.h"
#include "Zin/Enum.h"
#include "Zin/TypeRegistry.h"

namespace BfTwiceNatAddrOnly {

enum TwiceNatAddrOnlyActionSpecType : U8 {
   onMissActionSpec = 0,
   twiceNatAddrOnlyHitActionSpec = 1,
   twiceNatAddrOnlyHitEcmpActionSpec = 2,
};

// The module's table of names and numbers, handed to the runtime's enumeration support.
Zin::EnumTable const& twiceNatAddrOnlyActionSpecTypeTable();
Zin::TypeDescriptor const& twiceNatAddrOnlyActionSpecTypeType();

// Unknown numbers and names are refused with Zin::RangeException.
TwiceNatAddrOnlyActionSpecType TwiceNatAddrOnlyActionSpecTypeInstance(U32 value);
TwiceNatAddrOnlyActionSpecType TwiceNatAddrOnlyActionSpecTypeInstance(Pemra::String const& name);
Pemra::String stringValue(TwiceNatAddrOnlyActionSpecType value);
Pemra::String valueToStrep(TwiceNatAddrOnlyActionSpecType const& value);
// Writes the name; a number outside the table is written as the number, so a trace line about
// a bad action can still be written before the entry is refused.
std::ostream& operator<<(std::ostream& os, TwiceNatAddrOnlyActionSpecType const& value);
// Reads a name from the front of `in`; the pointer only selects the type.
TwiceNatAddrOnlyActionSpecType sequenceToValue(Zin::CharRange& in, TwiceNatAddrOnlyActionSpecType*);

}  // namespace BfTwiceNatAddrOnly

template <>
struct Zin::ValueTraits<BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecType> {
   static Value to(BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecType v) {
      return Value::enumeration(&BfTwiceNatAddrOnly::twiceNatAddrOnlyActionSpecTypeType(), v);
   }
   static BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecType from(Value const& v) {
      if (v.kind() == Value::Kind::string) {
         return BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecTypeInstance(v.asString());
      }
      return BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecTypeInstance(
          static_cast<U32>(v.asNumber(32)));
   }
};
