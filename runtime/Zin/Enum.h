#pragma once
// Generic enumeration support: a module hands over its table of names and numbers, and the
// runtime converts both ways from it.
#include <initializer_list>
#include <string_view>
#include <vector>

#include "Pemra/String.h"
#include "Zin/CharRange.h"
#include "Zin/Types.h"

namespace Zin {

struct EnumRow {
   U32 value;
   char const* name;
};

struct EnumTable {
   char const* typeName;
   std::vector<EnumRow> rows;
};

// Name of `value`; throws Zin::RangeException for a number the table does not have.
String enumName(EnumTable const& table, U32 value);
// Number of `name`; throws Zin::RangeException for a name the table does not have.
U32 enumValue(EnumTable const& table, std::string_view name);
// Reads the longest row name at the front of `in` and consumes it; throws
// Zin::RangeException (leaving `in` as it was) when no name stands there.
U32 enumValueFromRange(EnumTable const& table, CharRange& in);

}  // namespace Zin
