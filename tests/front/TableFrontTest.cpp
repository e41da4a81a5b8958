// The table front: the agent's creation function on the simulated chip, the lookup, the
// generic interface with the default match spec, and the checks that stop the process.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <vector>

#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "chip/Chip.h"
#include "chip/Devices.h"

using namespace BfTwiceNatAddrOnly;

namespace {

constexpr char kSdkLib[] = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";
constexpr char kSource[] = "bf_tolvex_switch/zin/BfTwiceNatAddrOnly/BfTwiceNatAddrOnly";

class Front : public testing::Test {
 protected:
   void SetUp() override {
      dl_ = dlopen(kSdkLib, RTLD_NOW);
      ASSERT_NE(dl_, nullptr) << dlerror();
   }
   void TearDown() override {
      for (U8 dev : devices_)
         chip::detach(dev);
      chips_.clear();
      dlclose(dl_);
   }
   TwiceNatAddrOnlyTable::Ptr make(chip::Profile profile, U16 pipe = 0xFFFF, U8 dev = 1) {
      chips_.push_back(chip::Chip::createPrivate(profile));
      chip::attach(dev, *chips_.back());
      devices_.push_back(dev);
      return twiceNatAddrOnlyTableFactory(nullptr, nullptr, dl_, 9, dev, pipe, kSdkLib);
   }
   void* dl_ = nullptr;
   std::vector<std::unique_ptr<chip::Chip>> chips_;
   std::vector<U8> devices_;
};

TEST_F(Front, CreationPicksTheBackEndTheSdkOffers) {
   struct Row {
      bool bfrt;
      bool vrf;
      U64 optional;
      char const* cls;
   } rows[] = {
       {true, true, 1, "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt"},
       {true, false, 0, "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt"},
       {false, true, 1, "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd"},
       {false, false, 0, "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd"},
   };
   U8 dev = 1;
   for (Row const& r : rows) {
      SCOPED_TRACE(r.cls);
      chip::Profile p;
      p.bfrt = r.bfrt;
      p.vrfKeyField = r.vrf;
      auto table = make(p, 0xFFFF, dev++);
      EXPECT_EQ(table->fwkType()->name(), r.cls);
      EXPECT_EQ(table->supportedOptionalFields(), r.optional);
      EXPECT_TRUE(table->useBfRt());
      ASSERT_NE(table->defaultMatchSpec(), nullptr);
      EXPECT_EQ(table->defaultMatchSpec()->isSet(), 0u);
   }
}

// A back end that answers readbacks from a list and records the handles it was asked for.
class RecordingTable : public TwiceNatAddrOnlyTable {
 public:
   using TwiceNatAddrOnlyTable::TwiceNatAddrOnlyTable;
   TwiceNatAddrOnlyTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle h) const override {
      asked.push_back(h);
      TwiceNatAddrOnlyTableEntry e(twiceNatAddrOnlyMatchSpecFactory());
      e.actionIs(onMissActionSpecFactory());
      return e;
   }
   mutable std::vector<U32> asked;
   ZIN_ALLOCATED(RecordingTable)
};

TEST(Lookup, AsksTheBackEndOnlyForProgrammedSpecs) {
   auto helper = twiceNatAddrOnlyTableHelperFactory(0, 0xFFFF);
   helper->sdkHandlesIs();
   Pemra::Ptr<RecordingTable> table = new RecordingTable(helper, nullptr, nullptr, 0);
   auto programmed = twiceNatAddrOnlyMatchSpecFactory();
   auto zero = twiceNatAddrOnlyMatchSpecFactory();
   helper->sdkHandles()->entryIs(programmed, 77);
   helper->sdkHandles()->entryIs(zero, 0);

   TwiceNatAddrOnlyTableEntry e = table->entry(programmed);
   EXPECT_NE(e.match(), programmed);  // a new entry read back, not the programmed one
   EXPECT_NE(e.match(), nullptr);
   EXPECT_TRUE(table->entry(twiceNatAddrOnlyMatchSpecFactory()).empty());  // equal-valued twin
   table->entry(zero);
   EXPECT_EQ(table->asked, (std::vector<U32>{77, 0}));

   // By name, dispatched to the override.
   Zin::Value v = Zin::operationCall(*table, "entry", {Zin::valueOf(programmed)});
   EXPECT_NE(Zin::valueAs<TwiceNatAddrOnlyTableEntry>(v).match(), nullptr);
   EXPECT_EQ(table->asked.size(), 3u);
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
   std::string at = std::string(kSource) + ":[0-9]+: ";
   EXPECT_DEATH(table->entryIs(TwiceNatAddrOnlyTableEntry()),
                at + "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entryIs.*Assertion "
                     "`0 && \"base TwiceNatAddrOnlyTable::entryIs\\(\\) called\"' failed");
   EXPECT_DEATH(table->entryDel(nullptr),
                "Assertion `0 && \"base TwiceNatAddrOnlyTable::entryDel\\(\\) called\"' failed");
   EXPECT_DEATH(
       table->entryByHandle(1),
       "Assertion `0 && \"base TwiceNatAddrOnlyTable::entryByHandle\\(\\) called\"' failed");
   EXPECT_DEATH(Zin::operationCall(*table, "initializeTable", {Zin::valueOf(helper)}),
                "Assertion `0 && \"base TwiceNatAddrOnlyTable::initializeTable\\(\\) called\"'");
   EXPECT_DEATH(table->entry(nullptr),
                at + "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry "
                     "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entry\\(const PtrConst&\\) const: "
                     "Assertion `match != NULL' failed");
   EXPECT_DEATH(::twiceNatAddrOnlyTableFactory(nullptr, nullptr, nullptr, 0, 0, 0xFFFF, ""),
                "twiceNatAddrOnlyTableFactory.*Assertion `pdLibPath' failed");
}

}  // namespace
