// Status texts, and which failure classes a handler of a base receives. (Class, message and
// status of every outcome by rule are checked by the fault sweeps of both back ends.)
#include <gtest/gtest.h>

#include <functional>

#include "BfTwiceNatAddrOnly/table/SdkStatus.h"
#include "BfTwiceNatAddrOnly/table/TableExceptions.h"

using namespace BfTwiceNatAddrOnly;
using namespace BfTable;

namespace {

// The ends of the known range and the first values outside it on either side.
TEST(SdkStatus, TextsAtTheEdgesOfTheKnownRange) {
   EXPECT_STREQ(sdkStatusText(0), "Success");
   EXPECT_STREQ(sdkStatusText(26), "Hardware entry not found");
   for (I32 s : {27, -1, INT32_MIN})
      EXPECT_STREQ(sdkStatusText(s), "Unknown error");
}

// Only the two public subclasses reach a handler for the base or for the runtime's base.
TEST(FailureRules, PrivateBasesEscapeBaseHandlers) {
   auto reachesBase = [](std::function<void()> const& f) {
      try {
         try {
            f();
         } catch (Zin::InternalException const&) {
            return true;
         }
      } catch (...) {
         return false;
      }
      return false;
   };
   EXPECT_TRUE(reachesBase([] { throwPdFailure("f", 9); }));
   EXPECT_TRUE(reachesBase([] { throwPdFailure("f", 2); }));
   EXPECT_TRUE(reachesBase([] { throwPdFailure("f", 3); }));
   EXPECT_FALSE(reachesBase([] { throwPdFailure("f", 17); }));
   EXPECT_FALSE(reachesBase([] { throwBfrtEntryOpFailure("l", 4); }));
   EXPECT_FALSE(reachesBase([] { throwBfrtCallFailure(10); }));
}

}  // namespace
