// Every path's BfRt calls, in order and with their arguments, among the service calls.
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfrtFixture.h"

namespace bfrttest {
namespace {

using V = std::vector<std::string>;

struct Layout {
   bool vrf;
   U16 pipe;
   bool actionProfile;
};

class BfrtPaths : public BfrtFixture, public testing::WithParamInterface<Layout> {};

TEST_P(BfrtPaths, BindingAllocatesOnceAndScopesTheTarget) {
   Layout const l = GetParam();
   open({.vrfKeyField = l.vrf, .actionProfileTable = l.actionProfile}, l.pipe);
   V got = timeline();
   V want;
   U64 const scope = l.pipe == kAll ? 0 : 1;
   for (auto const& s : {"tableTypeGet", "keyAllocate", "keyReset", "keyAllocate", "dataAllocate"})
      want.push_back(call(s, {kDev}));
   // Before the scope is set the chip refuses a single-pipe target; binding ignores that.
   want.push_back(call("devTargetSet", {kDev, l.pipe}, l.pipe == kAll ? 0 : 3));
   want.push_back(call("attributeAllocate", {kDev, 0}));
   want.push_back(call("attributes.entryScopeParamsSet", {scope}));
   want.push_back(call("tableAttributesSet", {sess(), kDev, l.pipe, scope}));
   if (l.actionProfile) {
      for (auto const& s : {"tableTypeGet", "keyAllocate", "dataAllocate"})
         want.push_back(call(s, {kDev}));
      want.push_back(call("devTargetSet", {kDev, l.pipe}));
   }
   auto first = std::find(got.begin(), got.end(), want.front());
   EXPECT_EQ(V(first, got.end()), want);
   BfrtModuleObjects const& o = bfrtModuleObjects();
   EXPECT_TRUE(o.programKey && o.readKey && o.readData);
   EXPECT_EQ(bool(o.actionProfileKey && o.actionProfileData), l.actionProfile);
   EXPECT_FALSE(o.onMissDataPrepared || o.hitDataPrepared || o.hitEcmpDataPrepared);
}

TEST_P(BfrtPaths, ProgramRemoveAndReadBack) {
   Layout const l = GetParam();
   open({.vrfKeyField = l.vrf, .actionProfileTable = l.actionProfile}, l.pipe);
   Pd const& p = pd();
   U64 const s = sess(), dev = kDev, pipe = l.pipe;
   // A table that lets the VRF through even where the BfRt table has no VRF field.
   TwiceNatAddrOnlyTable::Ptr vrfTable =
       l.vrf ? table_ : twiceNatAddrOnlyTableBfrtFactory(table_->helper(), km_, sm_, 1);
   Match m1 = matchOf(0x0a000001, 0x0a000002), m2 = matchOf(0x0b000001, 0x0b000002);
   m2->l3InfoVrfIdIs(7);
   auto keyWrites = [&](Match const& m, V& v) {
      if (l.vrf) v.push_back(call("key.setValue", {p.vrfKeyFieldId, m->l3InfoVrfId()}));
      v.push_back(call("key.setValue", {p.dipKeyFieldId, m->outerIpv4HdrDip()}));
      v.push_back(call("key.setValue", {p.sipKeyFieldId, m->outerIpv4HdrSip()}));
   };
   auto fields = [&](std::vector<U64> ids, std::vector<U64> vals, V& v, char const* op) {
      for (size_t i = 0; i < ids.size(); ++i)
         v.push_back(
             call(op, vals.empty() ? std::vector<U64>{ids[i]} : std::vector{ids[i], vals[i]}));
   };
   std::vector<U64> hitIds{p.hitKeyIdFieldId, p.hitRwIdFieldId, p.hitProtFieldId, p.hitFragFieldId,
                           p.hitNextHopFieldId};
   std::vector<U64> ecmpIds{p.hitEcmpKeyIdFieldId, p.hitEcmpRwIdFieldId, p.hitEcmpProtFieldId,
                            p.hitEcmpFragFieldId, p.hitEcmpEcmpGroupFieldId};
   mark();
   V want;
   program(m1, actionOf(twiceNatAddrOnlyHitActionSpec, 1, 2, 6, 1, 9));
   U64 const h1 = handles().entry(m1);
   keyWrites(m1, want);
   want.push_back("alloc 1 false");
   want.push_back(call("dataAllocate", {dev}));
   want.push_back(call("dataReset", {dev, p.actionIdHit}));
   fields(hitIds, {1, 2, 6, 1, 9}, want, "data.setValue");
   want.push_back(call("tableEntryAdd",
                       {s, dev, pipe, 0, 0x0a000001, 0x0a000002, p.actionIdHit, 1, 2, 6, 1, 9}));
   want.push_back("initStatus");

   program(m1, actionOf(twiceNatAddrOnlyHitEcmpActionSpec, 3, 4, 17, 0, 7));
   want.push_back(call("dataAllocate", {dev}));
   want.push_back(call("dataReset", {dev, p.actionIdHitEcmp}));
   fields(ecmpIds, {3, 4, 17, 0, 7}, want, "data.setValue");
   want.push_back(
       call("tableEntryModByHandle", {s, dev, pipe, 0x20, h1, p.actionIdHitEcmp, 3, 4, 17, 0, 7}));
   want.push_back("initStatus");

   for (int i = 0; i < 2; ++i)
      program(table_->defaultMatchSpecIs(), actionOf(onMissActionSpec));
   want.push_back("alloc 2 false");
   want.push_back(call("dataAllocate", {dev}));
   want.push_back(call("dataReset", {dev, p.actionIdOnMiss}));
   for (int i = 0; i < 2; ++i) {
      want.push_back(
          call("tableDefaultEntrySet", {s, dev, pipe, 0x20, p.actionIdOnMiss, 0, 0, 0, 0, 0}));
      want.push_back("initStatus");
   }

   TwiceNatAddrOnlyTableEntry e2(m2);
   e2.actionIs(actionOf(twiceNatAddrOnlyHitActionSpec, 5, 6, 7, 8, 10));
   vrfTable->entryIs(e2);
   U64 const h2 = handles().entry(m2);
   keyWrites(m2, want);
   want.push_back("alloc 3 false");
   fields(hitIds, {5, 6, 7, 8, 10}, want, "data.setValue");
   want.push_back(call("tableEntryAdd", {s, dev, pipe, l.vrf ? 7u : 0u, 0x0b000001, 0x0b000002,
                                         p.actionIdHit, 5, 6, 7, 8, 10}));
   want.push_back("initStatus");

   table_->entryDel(m1);
   table_->entryDel(table_->defaultMatchSpec());
   want.insert(want.end(), {"initStatus", call("tableEntryDelByHandle", {s, dev, pipe, h1}),
                            "initStatus", call("tableDefaultEntryReset", {s, dev, pipe})});
   EXPECT_FALSE(handles().entryHas(m1) || handles().entryHas(table_->defaultMatchSpec()));
   EXPECT_EQ(handles().entries(), 1u);

   TwiceNatAddrOnlyTableEntry back = table_->entry(m2);
   want.push_back(call("keyReset", {dev}));
   want.push_back(call("dataReset", {dev}));
   want.push_back(call("tableEntryGet", {s, dev, pipe, 0, h2}));
   want.push_back(call("data.actionIdGet", {}));
   std::vector<U64> keyIds{p.dipKeyFieldId, p.sipKeyFieldId};
   if (l.vrf) keyIds.insert(keyIds.begin(), p.vrfKeyFieldId);
   fields(keyIds, {}, want, "key.getValue");
   fields(hitIds, {}, want, "data.getValue");
   EXPECT_EQ(timeline(), want);
   ASSERT_TRUE(back.match() && back.action());
   EXPECT_NE(back.match(), TwiceNatAddrOnlyMatchSpec::PtrConst(m2));
   EXPECT_EQ(back.match()->l3InfoVrfId(), l.vrf ? 7 : 0);
   EXPECT_EQ(static_cast<TwiceNatAddrOnlyHitActionSpec const&>(*back.action()).nextHop(), 10);
}

INSTANTIATE_TEST_SUITE_P(Layouts, BfrtPaths,
                         testing::Values(Layout{true, kAll, false}, Layout{false, 1, true},
                                         Layout{true, 0, true}));

TEST_F(BfrtFixture, DataObjectsAreMadeOncePerBinding) {
   open();
   auto made = [&] {
      size_t n = chip::journalCalls("dataAllocate").size() + chip::journalCalls("dataReset").size();
      mark();
      return n;
   };
   mark();
   U32 dip = 1;
   auto hit = [&] { program(matchOf(dip++, 0), actionOf(twiceNatAddrOnlyHitActionSpec)); };
   hit();
   EXPECT_EQ(made(), 2u);
   hit();
   EXPECT_EQ(made(), 0u);
   table_->initializeTable(table_->helper());
   EXPECT_EQ(made(), 1u);  // the read data of the binding itself
   hit();
   EXPECT_EQ(made(), 2u);
}

}  // namespace
}  // namespace bfrttest

namespace bfrttest {
namespace {

TEST_F(BfrtFixture, TracesEachStepAtLevelNine) {
   std::vector<std::pair<std::string, std::string>> got;  // function, text
   Zin::traceLevelIs("BfTwiceNatAddrOnly", 9);
   Zin::traceSinkIs([&](Zin::TraceRecord const& r) {
      if (r.facility == "BfTwiceNatAddrOnly" && r.level == 9 && r.source == kSourceName)
         got.emplace_back(r.function, r.text);
   });
   open();
   Match m = matchOf(1, 2);
   program(m, actionOf(twiceNatAddrOnlyHitEcmpActionSpec));
   program(m, actionOf(onMissActionSpec));
   program(table_->defaultMatchSpecIs(), actionOf(onMissActionSpec));
   table_->entryByHandle(handles().entry(m));
   table_->entryDel(m);
   Zin::traceSinkIs(nullptr);
   Zin::traceLevelIs("BfTwiceNatAddrOnly", -1);
   std::ostringstream at;
   at << static_cast<void const*>(m.ptr());
   std::string const is =
       "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::entryIs(const "
       "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)";
   std::string const del =
       "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::entryDel(const PtrConst&)";
   std::string const dflt =
       is + ", matchSpec: " + (std::ostringstream() << table_->defaultMatchSpec().ptr()).str();
   std::vector<std::string> texts;
   for (auto const& [fn, text] : got) {
      if (fn.find("TableBfrt") != std::string::npos || fn.starts_with("void initBfRtTable"))
         texts.push_back(text);
   }
   EXPECT_EQ(texts,
             (std::vector<std::string>{
                 "initializeTable", "initBfRtTable",
                 is + ", matchSpec: " + at.str() + ", action: twiceNatAddrOnlyHitEcmpActionSpec",
                 "Adding new entry", is + ", matchSpec: " + at.str() + ", action: onMissActionSpec",
                 "Modifying existing entry", dflt + ", action: onMissActionSpec",
                 "Setting default action", "entryByHandle", del + ", matchSpec: " + at.str()}));
}

}  // namespace
}  // namespace bfrttest
