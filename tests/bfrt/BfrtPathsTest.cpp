// Every path's BfRt calls, in order and with their arguments, among the service calls; what
// reads back; the module's key and data objects; the level-9 trace.
#include "BfTwiceNatAddrOnly/bfrt/BfrtModuleObjects.h"
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "support/TableChecks.h"

namespace tabletest {
namespace {

struct Layout {
   bool vrf;
   U16 pipe;
   bool actionProfile;
};

class BfrtPaths : public testing::TestWithParam<Layout> {
 protected:
   Layout const l = GetParam();
   Rig rig{
       {.profile = {.vrfKeyField = l.vrf, .actionProfileTable = l.actionProfile}, .pipe = l.pipe}};
   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf const& p = *rig.table->helper()->pdLib();
   U64 const s = p.bfRtTableIntf->bfRtSessionGet()->sessHandleGet();
};

TEST_P(BfrtPaths, BindingAllocatesOnceAndScopesTheTarget) {
   V const got = rig.timeline();
   V want;
   U64 const scope = l.pipe == kAll ? 0 : 1;
   for (auto const& c : {"tableTypeGet", "keyAllocate", "keyReset", "keyAllocate", "dataAllocate"})
      want.push_back(call(c, {kDev}));
   // Before the scope is set the chip refuses a single-pipe target; binding ignores that.
   want.push_back(call("devTargetSet", {kDev, l.pipe}, l.pipe == kAll ? 0 : 3));
   want.push_back(call("attributeAllocate", {kDev, 0}));
   want.push_back(call("attributes.entryScopeParamsSet", {scope}));
   want.push_back(call("tableAttributesSet", {s, kDev, l.pipe, scope}));
   if (l.actionProfile) {
      for (auto const& c : {"tableTypeGet", "keyAllocate", "dataAllocate"})
         want.push_back(call(c, {kDev}));
      want.push_back(call("devTargetSet", {kDev, l.pipe}));
   }
   want.push_back("resyncStatus");
   EXPECT_EQ(V(std::find(got.begin(), got.end(), want.front()), got.end()), want);
   BfrtModuleObjects const& o = bfrtModuleObjects();
   EXPECT_TRUE(o.programKey && o.readKey && o.readData);
   EXPECT_EQ(bool(o.actionProfileKey && o.actionProfileData), l.actionProfile);
   EXPECT_FALSE(o.onMissDataPrepared || o.hitDataPrepared || o.hitEcmpDataPrepared);
}

TEST_P(BfrtPaths, ProgramRemoveAndReadBack) {
   U64 const dev = kDev, pipe = l.pipe;
   // A table that lets the VRF through even where the BfRt table has no VRF field.
   TwiceNatAddrOnlyTable::Ptr vrfTable =
       l.vrf ? rig.table : twiceNatAddrOnlyTableBfrtFactory(rig.table->helper(), rig.km, rig.sm, 1);
   Match const m1 = matchOf(0x0a000001, 0x0a000002), m2 = matchOf(0x0b000001, 0x0b000002, 7);
   rig.name(m1, "m1"), rig.name(m2, "m2");
   V want;
   auto writes = [&](char const* op, std::vector<U64> ids, std::vector<U64> vals = {}) {
      for (size_t i = 0; i < ids.size(); ++i)
         want.push_back(
             call(op, vals.empty() ? std::vector{ids[i]} : std::vector{ids[i], vals[i]}));
   };
   auto keyWrites = [&](Match const& m) {
      if (l.vrf) writes("key.setValue", {p.vrfKeyFieldId}, {m->l3InfoVrfId()});
      writes("key.setValue", {p.dipKeyFieldId, p.sipKeyFieldId},
             {m->outerIpv4HdrDip(), m->outerIpv4HdrSip()});
   };
   std::vector<U64> const hitIds{p.hitKeyIdFieldId, p.hitRwIdFieldId, p.hitProtFieldId,
                                 p.hitFragFieldId, p.hitNextHopFieldId};
   std::vector<U64> const ecmpIds{p.hitEcmpKeyIdFieldId, p.hitEcmpRwIdFieldId, p.hitEcmpProtFieldId,
                                  p.hitEcmpFragFieldId, p.hitEcmpEcmpGroupFieldId};
   rig.mark();
   // Add: the key is written before the action is looked at; no flags.
   rig.program(m1, actionOf(twiceNatAddrOnlyHitActionSpec, 1, 2, 6, 1, 9));
   U64 const h1 = rig.handles().entry(m1);
   keyWrites(m1);
   want.insert(want.end(), {"alloc 1 m1", call("dataAllocate", {dev}),
                            call("dataReset", {dev, p.actionIdHit})});
   writes("data.setValue", hitIds, {1, 2, 6, 1, 9});
   want.push_back(call("tableEntryAdd",
                       {s, dev, pipe, 0, 0x0a000001, 0x0a000002, p.actionIdHit, 1, 2, 6, 1, 9}));
   want.push_back("initStatus m1");
   // Modify: flags 0x20.
   rig.program(m1, actionOf(twiceNatAddrOnlyHitEcmpActionSpec, 3, 4, 17, 0, 7));
   want.insert(want.end(),
               {call("dataAllocate", {dev}), call("dataReset", {dev, p.actionIdHitEcmp})});
   writes("data.setValue", ecmpIds, {3, 4, 17, 0, 7});
   want.push_back(
       call("tableEntryModByHandle", {s, dev, pipe, 0x20, h1, p.actionIdHitEcmp, 3, 4, 17, 0, 7}));
   want.push_back("initStatus m1");
   // Default, twice: the key and the data object only the first time; flags 0x20.
   for (int i = 0; i < 2; ++i)
      rig.program(rig.dflt(), actionOf(onMissActionSpec));
   want.insert(want.end(), {"alloc 2 dflt", call("dataAllocate", {dev}),
                            call("dataReset", {dev, p.actionIdOnMiss})});
   for (int i = 0; i < 2; ++i)
      want.insert(want.end(), {call("tableDefaultEntrySet",
                                    {s, dev, pipe, 0x20, p.actionIdOnMiss, 0, 0, 0, 0, 0}),
                               "initStatus dflt"});
   // A second add of an action reuses its data object.
   TwiceNatAddrOnlyTableEntry e2(m2);
   e2.actionIs(actionOf(twiceNatAddrOnlyHitActionSpec, 5, 6, 7, 8, 10));
   vrfTable->entryIs(e2);
   U64 const h2 = rig.handles().entry(m2);
   keyWrites(m2);
   want.push_back("alloc 3 m2");
   writes("data.setValue", hitIds, {5, 6, 7, 8, 10});
   want.push_back(call("tableEntryAdd", {s, dev, pipe, l.vrf ? 7u : 0u, 0x0b000001, 0x0b000002,
                                         p.actionIdHit, 5, 6, 7, 8, 10}));
   want.push_back("initStatus m2");
   // Removals: the status first.
   rig.table->entryDel(m1);
   rig.table->entryDel(rig.dflt());
   want.insert(want.end(), {"initStatus m1", call("tableEntryDelByHandle", {s, dev, pipe, h1}),
                            "initStatus dflt", call("tableDefaultEntryReset", {s, dev, pipe})});
   EXPECT_FALSE(rig.handles().entryHas(m1) || rig.handles().entryHas(rig.dflt()));
   EXPECT_EQ(rig.handles().entries(), 1u);
   // Readback: key fields, VRF only where the table has it, then the action's data fields.
   TwiceNatAddrOnlyTableEntry back = rig.table->entry(m2);
   want.insert(want.end(),
               {call("keyReset", {dev}), call("dataReset", {dev}),
                call("tableEntryGet", {s, dev, pipe, 0, h2}), call("data.actionIdGet", {})});
   if (l.vrf) writes("key.getValue", {p.vrfKeyFieldId});
   writes("key.getValue", {p.dipKeyFieldId, p.sipKeyFieldId});
   writes("data.getValue", hitIds);
   EXPECT_EQ(rig.timeline(), want);
   EXPECT_NE(back.match(), MatchC(m2));
   EXPECT_EQ(describe(back), describe(matchOf(0x0b000001, 0x0b000002, l.vrf ? 7 : -1),
                                      actionOf(twiceNatAddrOnlyHitActionSpec, 5, 6, 7, 8, 10)));
}

INSTANTIATE_TEST_SUITE_P(Layouts, BfrtPaths,
                         testing::Values(Layout{true, kAll, false}, Layout{false, 1, true},
                                         Layout{true, 0, true}));

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
