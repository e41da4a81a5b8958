#pragma once
// Shared helpers of the text-form tests: expected failures described by table rows.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

#include "Zin/Strep.h"

namespace TextTest {

enum class Failure { missing, convert, range, mismatch, notFound, parse, unconsumed };

inline constexpr std::size_t kAnywhere = ~std::size_t(0);

struct FailCase {
   char const* name;
   std::string text;
   Failure kind;
   // Must occur in the message: the expected literal, the class, the attribute path...
   std::string fragment;
   // Where a parse error must be reported; kAnywhere for errors without a position.
   std::size_t position = kAnywhere;
};

inline bool isKind(Failure kind, Zin::Exception const& e) {
   switch (kind) {
      case Failure::missing:
         return dynamic_cast<Zin::MissingStringException const*>(&e);
      case Failure::convert:
         return dynamic_cast<Zin::ValueTypeException const*>(&e);
      case Failure::range:
         return dynamic_cast<Zin::AttributeRangeException const*>(&e);
      case Failure::mismatch:
         return dynamic_cast<Zin::AttributeMismatchException const*>(&e);
      case Failure::notFound:
         return dynamic_cast<Zin::AttributeNotFoundException const*>(&e);
      case Failure::parse:
         return dynamic_cast<Zin::ParseException const*>(&e) &&
                !dynamic_cast<Zin::MissingStringException const*>(&e);
      case Failure::unconsumed:
         return dynamic_cast<Zin::UnconsumedDataException const*>(&e);
   }
   return false;
}

// Runs `parse` on the row's text and checks that it fails as the row says.
inline void expectFailure(FailCase const& c, std::function<void(std::string const&)> const& parse) {
   SCOPED_TRACE(c.name);
   try {
      parse(c.text);
      ADD_FAILURE() << "parsed: " << c.text;
   } catch (Zin::Exception const& e) {
      EXPECT_TRUE(isKind(c.kind, e)) << "wrong kind of error: " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.fragment), std::string::npos)
          << "'" << c.fragment << "' not in: " << e.what();
      if (c.position != kAnywhere) {
         auto const* p = dynamic_cast<Zin::ParseException const*>(&e);
         ASSERT_NE(p, nullptr) << e.what();
         EXPECT_EQ(p->position(), c.position) << e.what();
      }
   }
}

}  // namespace TextTest
