#include "Zin/Enum.h"

#include "Zin/Exception.h"

namespace Zin {

String enumName(EnumTable const& table, U32 value) {
   for (EnumRow const& row : table.rows) {
      if (row.value == value) return row.name;
   }
   throw RangeException(String(table.typeName) + " has no value " + std::to_string(value));
}

U32 enumValue(EnumTable const& table, std::string_view name) {
   for (EnumRow const& row : table.rows) {
      if (name == row.name) return row.value;
   }
   throw RangeException(String(table.typeName) + " has no value named '" + String(name) + "'");
}

U32 enumValueFromRange(EnumTable const& table, CharRange& in) {
   EnumRow const* best = nullptr;
   std::size_t bestLen = 0;
   for (EnumRow const& row : table.rows) {
      std::string_view name(row.name);
      if (name.size() > bestLen && in.startsWith(name)) {
         best = &row;
         bestLen = name.size();
      }
   }
   if (!best) {
      throw RangeException(String(table.typeName) + " name expected at position " +
                           std::to_string(in.position()));
   }
   in.advance(bestLen);
   return best->value;
}

}  // namespace Zin
