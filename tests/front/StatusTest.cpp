// Status texts and the three failure rules: class, message and status of every outcome.
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

// What a rule threw: the class by the handler that caught it, the message and the status.
struct Caught {
   std::string cls;
   std::string what;
   I32 status;
};

Caught run(std::function<void()> const& f) {
   try {
      f();
   } catch (BfTableFull const& e) {
      return {"BfTableFull", e.what(), e.status};
   } catch (BfNoSysResources const& e) {
      return {"BfNoSysResources", e.what(), e.status};
   } catch (BfNotSupported const& e) {
      return {"BfNotSupported", e.what(), e.status};
   } catch (BfDuplicateEntry const& e) {
      return {"BfDuplicateEntry", e.what(), e.status};
   } catch (BfTryAgain const& e) {
      return {"BfTryAgain", e.what(), e.status};
   } catch (BfTableException const& e) {
      return {"BfTableException", e.what(), e.status};
   }
   return {"nothing", "", 0};
}

TEST(FailureRules, ClassMessageAndStatusByRule) {
   struct Row {
      I32 status;
      char const* pd;
      char const* entryOp;
      char const* call;
   } rows[] = {
       {9, "BfTableFull", "BfTableFull", "BfTableException"},
       {2, "BfNoSysResources", "BfNoSysResources", "BfTableException"},
       {17, "BfNotSupported", "BfNotSupported", "BfTableException"},
       {4, "BfTableException", "BfDuplicateEntry", "BfTableException"},
       {10, "BfTableException", "BfTableException", "BfTryAgain"},
       {3, "BfTableException", "BfTableException", "BfTableException"},
       {-1, "BfTableException", "BfTableException", "BfTableException"},
   };
   for (Row const& r : rows) {
      SCOPED_TRACE(r.status);
      std::string text = sdkStatusText(r.status);
      Caught pd = run([&] { throwPdFailure("p4_pd_fn", r.status); });
      EXPECT_EQ(pd.cls, r.pd);
      EXPECT_EQ(pd.what, "p4_pd_fn() failed: " + text);
      EXPECT_EQ(pd.status, r.status);
      Caught op = run([&] { throwBfrtEntryOpFailure("twiceNatAddrOnly_tableEntryAdd", r.status); });
      EXPECT_EQ(op.cls, r.entryOp);
      EXPECT_EQ(op.what, "twiceNatAddrOnly_tableEntryAdd() failed: " + text);
      EXPECT_EQ(op.status, r.status);
      Caught call = run([&] { throwBfrtCallFailure(r.status); });
      EXPECT_EQ(call.cls, r.call);
      EXPECT_EQ(call.what, "BFRT call failed: " + text);
      EXPECT_EQ(call.status, r.status);
   }
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
