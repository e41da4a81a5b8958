// What only the BfRt back end has: the module's key and data objects, a key without the VRF
// field, and readbacks cut to the attributes' widths.
#include "BfTwiceNatAddrOnly/bfrt/BfrtModuleObjects.h"
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "support/TableChecks.h"

namespace tabletest {
namespace {

TEST(BfrtBinding, MakesTheModuleObjectsOnceAndDropsTheVrfTheTableLacks) {
   for (bool profile : {false, true}) {
      Rig rig({.profile = {.vrfKeyField = false, .actionProfileTable = profile}});
      BfrtModuleObjects const& o = bfrtModuleObjects();
      EXPECT_TRUE(o.programKey && o.readKey && o.readData);
      EXPECT_EQ(bool(o.actionProfileKey && o.actionProfileData), profile);
      EXPECT_FALSE(o.onMissDataPrepared || o.hitDataPrepared || o.hitEcmpDataPrepared);
      // A table that lets the VRF through where the BfRt table has no VRF field.
      auto const table = twiceNatAddrOnlyTableBfrtFactory(rig.table->helper(), rig.km, rig.sm, 1);
      TwiceNatAddrOnlyTableEntry e(matchOf(1, 2, 7));
      e.actionIs(actionOf(onMissActionSpec));
      rig.mark();
      table->entryIs(e);
      EXPECT_EQ(chip::journalCalls("key.setValue").size(), 2u);
      EXPECT_EQ(chip::journalCalls("tableEntryAdd").at(0).args.at(3), 0u);
   }
}

// What the chip holds reads back cut to the attributes' widths.
TEST(BfrtReadback, KeepsLowBitsAndTheVrfOnlyWhereTheTableHasIt) {
   struct Case {
      TwiceNatAddrOnlyActionSpecType type;
      unsigned rawIndex;  // parameter stored raw in the chip, wider than its field
      U32 raw;
      Action want;
   };
   Case const cases[] = {
       {twiceNatAddrOnlyHitActionSpec, 2, 0x1FF,
        actionOf(twiceNatAddrOnlyHitActionSpec, 1, 2, 0xFF, 4, 5)},
       {twiceNatAddrOnlyHitEcmpActionSpec, 0, 0x12345,
        actionOf(twiceNatAddrOnlyHitEcmpActionSpec, 0x2345, 7, 8, 9, 10)},
       {twiceNatAddrOnlyHitEcmpActionSpec, 4, 0xABCDE,
        actionOf(twiceNatAddrOnlyHitEcmpActionSpec, 6, 7, 8, 9, 0xBCDE)},
       {onMissActionSpec, 1, 55, actionOf(onMissActionSpec)},
   };
   for (bool vrf : {true, false}) {
      Rig rig({.profile = {.vrfKeyField = vrf}});
      U32 dip = 100;
      for (Case const& c : cases) {
         SCOPED_TRACE(testing::Message() << "vrf " << vrf << " raw " << c.raw);
         Match const m = matchOf(++dip, 0xC0A80001, vrf ? 0x1234 : -1);
         rig.program(m, actionOf(c.type, 6, 7, 8, 9, 10));
         if (c.type == twiceNatAddrOnlyHitActionSpec)
            rig.program(m, actionOf(c.type, 1, 2, 3, 4, 5));
         U32 const h = rig.handles().entry(m);
         ASSERT_EQ(rig.chip->rawParamIs(h, c.rawIndex, c.raw), 0);
         TwiceNatAddrOnlyTableEntry a = rig.table->entryByHandle(h), b = rig.table->entry(m);
         EXPECT_FALSE(isEq(a, b) || a.match() == MatchC(m));
         EXPECT_EQ(describe(a), describe(m, c.want));
         EXPECT_EQ(describe(b), describe(m, c.want));
      }
      EXPECT_TRUE(rig.table->entryByHandle(0x7777).empty());
   }
}

TEST(BfrtObjects, DataObjectsAreMadeOncePerBinding) {
   Rig rig;
   U32 dip = 1;
   auto made = [&](auto&& op) {
      rig.mark();
      op();
      return chip::journalCalls("dataAllocate").size() + chip::journalCalls("dataReset").size();
   };
   auto hit = [&] { rig.program(matchOf(dip++, 0), actionOf(twiceNatAddrOnlyHitActionSpec)); };
   EXPECT_EQ(made(hit), 2u);
   EXPECT_EQ(made(hit), 0u);
   // The binding resets the read data only.
   EXPECT_EQ(made([&] { rig.table->initializeTable(rig.table->helper()); }), 1u);
   EXPECT_EQ(made(hit), 2u);
}

}  // namespace
}  // namespace tabletest
