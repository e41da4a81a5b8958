// The enumeration support. (The generic attribute interface is tested over a probe class with the
// text forms.)
#include <gtest/gtest.h>

#include <tuple>

#include "Zin/Enum.h"
#include "Zin/Exception.h"

namespace {

TEST(Enum, ConvertsNamesAndNumbersAndReadsTheLongestNameFromARange) {
   Zin::EnumTable const colors{"RtTest::Color", {{0, "red"}, {1, "redder"}, {5, "blue"}}};
   for (auto const& row : colors.rows) {
      EXPECT_EQ(Zin::enumName(colors, row.value), row.name);
      EXPECT_EQ(Zin::enumValue(colors, row.name), row.value);
   }
   EXPECT_THROW(Zin::enumName(colors, 2), Zin::RangeException);
   EXPECT_THROW(Zin::enumValue(colors, "redd"), Zin::RangeException);
   for (auto [text, value, rest] : {std::tuple{"redder)", 1u, ")"}, {"reddish", 0u, "dish"}}) {
      Zin::CharRange in(text);
      EXPECT_EQ(Zin::enumValueFromRange(colors, in), value) << text;
      EXPECT_EQ(in.rest(), rest) << text;
   }
   Zin::CharRange bad("re");
   EXPECT_THROW(Zin::enumValueFromRange(colors, bad), Zin::RangeException);
   EXPECT_EQ(bad.position(), 0u);
}

}  // namespace
