// The table front: the agent's creation function on the simulated chip, the lookup, the
// generic interface with the default match spec, the checks that stop the process, status texts
// and which failure classes a handler of a base receives. (Class, message and status of every
// outcome by rule are checked by the fault sweeps of both back ends.)
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/SdkStatus.h"
#include "BfTwiceNatAddrOnly/table/TableExceptions.h"
#include "support/TableRig.h"

using namespace BfTwiceNatAddrOnly;
using namespace BfTable;

namespace {

constexpr char kSource[] = "bf_tolvex_switch/zin/BfTwiceNatAddrOnly/BfTwiceNatAddrOnly";

// A back end that records the handles it is asked to read back.
class RecordingTable : public TwiceNatAddrOnlyTable {
 public:
   using TwiceNatAddrOnlyTable::TwiceNatAddrOnlyTable;
   TwiceNatAddrOnlyTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle h) const override {
      asked.push_back(h);
      return TwiceNatAddrOnlyTableEntry();
   }
   mutable std::vector<U32> asked;
   ZIN_ALLOCATED(RecordingTable)
};

// A spec held under handle 0 is still read back, also when called by name; a spec not held is not.
TEST(Lookup, ReadsBackEverySpecTheMapHolds) {
   auto helper = twiceNatAddrOnlyTableHelperFactory(0, 0xFFFF);
   auto zero = twiceNatAddrOnlyMatchSpecFactory();
   helper->sdkHandlesIs()->entryIs(zero, 0);
   Pemra::Ptr<RecordingTable> table = new RecordingTable(helper, nullptr, nullptr, 0);
   EXPECT_TRUE(table->entry(twiceNatAddrOnlyMatchSpecFactory()).empty());
   table->entry(zero);
   Zin::operationCall(*table, "entry", {Zin::valueOf(zero)});
   auto const byHandle = Zin::operationCall(*table, "entryByHandle", {Zin::Value::number(9)});
   EXPECT_TRUE(Zin::valueAs<TwiceNatAddrOnlyTableEntry>(byHandle).empty());
   EXPECT_EQ(table->asked, (std::vector<U32>{0, 0, 9}));
   // A call by name with a wrong count or kind of argument, or of a name that is no operation.
   for (auto const& args : {std::vector<Zin::Value>{}, {Zin::Value::string("9")}})
      EXPECT_THROW(Zin::operationCall(*table, "entryByHandle", args), Zin::ValueTypeException);
   EXPECT_THROW(Zin::operationCall(*table, "useBfRt", {}), Zin::AttributeNotFoundException);
   EXPECT_THROW(Zin::attribute(*table, "entry"), Zin::AttributeNotFoundException);
   EXPECT_THROW(Zin::attributeIs(*table, "nope", Zin::Value()), Zin::AttributeNotFoundException);
}

TEST(TableAttributes, ReadOnlyAndPointerAttributesByName) {
   auto helper = twiceNatAddrOnlyTableHelperFactory(0, 0xFFFF);
   auto table = twiceNatAddrOnlyTablePdFactory(helper, nullptr, nullptr, 1);
   EXPECT_EQ(Zin::attribute(*table, "supportedOptionalFields").asNumber(), 1u);
   EXPECT_THROW(Zin::attributeIs(*table, "supportedOptionalFields", Zin::Value::number(0)),
                Zin::AttributeReadOnlyException);
   EXPECT_THROW(Zin::attributeIs(*table, "helper", Zin::valueOf(helper)),
                Zin::AttributeReadOnlyException);
   Zin::attributeIs(*table, "useBfRt", Zin::Value::boolean(false));
   EXPECT_FALSE(table->useBfRt());
   Zin::Value d = Zin::attributeInstantiate(*table, "defaultMatchSpec");
   EXPECT_EQ(d.asObject().ptr(), table->defaultMatchSpec().ptr());
   EXPECT_EQ(Zin::attributeDel(*table, "defaultMatchSpec").asObject().ptr(), d.asObject().ptr());
}

TEST(TableDeathTest, BaseOperationsAndPreconditionsStopTheProcess) {
   auto helper = twiceNatAddrOnlyTableHelperFactory(0, 0xFFFF);
   helper->sdkHandlesIs();
   auto table = twiceNatAddrOnlyTableFactory(helper, nullptr, nullptr, 0);
   auto base = [](std::string const& op) {
      return "Assertion `0 && \"base TwiceNatAddrOnlyTable::" + op + "\\(\\) called\"' failed";
   };
   EXPECT_DEATH(table->entryIs(TwiceNatAddrOnlyTableEntry()),
                std::string(kSource) + ":[0-9]+: virtual void " +
                    "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entryIs.*" + base("entryIs"));
   EXPECT_DEATH(table->entryDel(nullptr), base("entryDel"));
   EXPECT_DEATH(table->entryByHandle(1), base("entryByHandle"));
   EXPECT_DEATH(Zin::operationCall(*table, "initializeTable", {Zin::valueOf(helper)}),
                base("initializeTable"));
   EXPECT_DEATH(::twiceNatAddrOnlyTableFactory(nullptr, nullptr, nullptr, 0, 0, 0xFFFF, ""),
                "twiceNatAddrOnlyTableFactory.*Assertion `pdLibPath' failed");
}

// Texts of the statuses the fault sweeps do not meet.
TEST(SdkStatus, SuccessAndTheFarEndOutsideTheKnownRange) {
   EXPECT_STREQ(sdkStatusText(0), "Success");
   EXPECT_STREQ(sdkStatusText(INT32_MIN), "Unknown error");
}

// Only the two public subclasses reach a handler for the base or for the runtime's base.
TEST(FailureRules, PrivateBasesEscapeBaseHandlers) {
   std::pair<std::function<void()>, bool> const rows[] = {
       {[] { throwPdFailure("f", 9); }, true},           {[] { throwPdFailure("f", 2); }, true},
       {[] { throwPdFailure("f", 3); }, true},           {[] { throwPdFailure("f", 17); }, false},
       {[] { throwBfrtEntryOpFailure("l", 4); }, false}, {[] { throwBfrtCallFailure(10); }, false}};
   for (auto const& [thrower, reaches] : rows) {
      bool reached = false;
      try {
         try {
            thrower();
         } catch (Zin::InternalException const&) {
            reached = true;
         }
      } catch (...) {
      }
      EXPECT_EQ(reached, reaches);
   }
}

}  // namespace
