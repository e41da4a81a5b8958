// What only the BfRt back end has: the module's key and data objects, and a key without the VRF
// field.
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
      rig.mark();
      table->entryIs(entryOf(matchOf(1, 2, 7), actionOf(onMissActionSpec)));
      EXPECT_EQ(chip::journalCalls("key.setValue").size(), 2u);
      EXPECT_EQ(chip::journalCalls("tableEntryAdd").at(0).args.at(3), 0u);
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
   // Once per kind within a binding is the paths test's; the binding resets the read data only.
   EXPECT_EQ(made(hit), 2u);
   EXPECT_EQ(made([&] { rig.table->initializeTable(rig.table->helper()); }), 1u);
   EXPECT_EQ(made(hit), 2u);
}

}  // namespace
}  // namespace tabletest
