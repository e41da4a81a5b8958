// Every path of binding, programming, removal and readback on either back end: the SDK calls and
// their arguments, in order among the service calls, the handle map, what then reads back, and
// the level-9 trace record of each step; and a BfRt table without the VRF field.
#include <set>
#include <sstream>
#include <utility>

#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "support/TableRig.h"

namespace tabletest {
namespace {

struct Layout {
   char const* name;
   bool bfrt, vrf;
   U16 pipe;
   bool actionProfile = false;
};

class Paths : public testing::TestWithParam<Layout> {
 protected:
   Layout const l = GetParam();
   Rig rig{
       {.profile = {.vrfKeyField = l.vrf, .bfrt = l.bfrt, .actionProfileTable = l.actionProfile},
        .pipe = l.pipe}};
   U64 const dev = kDev, pipe = l.pipe;
   // BfRt: the ids the binding found, the session, and the kinds whose data object is made.
   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf const& p = *rig.table->helper()->pdLib();
   U64 const s = l.bfrt ? p.bfRtTableIntf->bfRtSessionGet()->sessHandleGet() : kSess;
   std::set<unsigned> made;
   // The module's records at level 9, once the walk begins; each step takes what it traced.
   V traced;
   std::string const be = l.bfrt ? "Bfrt" : "Pd", is = entryIsFn(be), del = entryDelFn(be);
   std::string const byHandle =
       "virtual BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry BfTwiceNatAddrOnly::"
       "TwiceNatAddrOnlyTable" +
       be + "::entryByHandle(BfnTable::BfnSdkEntryHandle) const: entryByHandle";
   void SetUp() override {
      Zin::traceSinkIs([this](Zin::TraceRecord const& r) {
         if (r.facility != kTraceFacility) return;
         EXPECT_EQ(std::pair(int(r.level), r.source), std::pair(9, std::string_view(kSourceName)));
         traced.push_back(std::string(r.function) + ": " + std::string(r.text));
      });
   }
   void TearDown() override {
      Zin::traceSinkIs({});
      Zin::traceLevelIs(kTraceFacility, -1);
   }
   // The lookup's one record: its signature, as function and as text.
   std::string const lookup = kLookupFn + ": " + kLookupFn;
   V took() { return std::exchange(traced, {}); }
   // The first record of an operation: its function, the match spec's address and the action.
   V head(std::string const& fn, MatchC const& x, unsigned t = 3) const {
      std::string h = fn + ": " + fn + ", matchSpec: " + (std::ostringstream() << x.ptr()).str();
      return {t < 3 ? h + ", action: " + kSuffix[t] + "ActionSpec" : h};
   }

   template <class T>
   static std::vector<T> join(std::vector<T> a, std::vector<T> const& b) {
      a.insert(a.end(), b.begin(), b.end());
      return a;
   }
   static std::vector<U64> concat(std::vector<U64> const& a, std::vector<U64> const& b) {
      return join(a, b);
   }
   // BfRt ids of each action kind and of its data fields.
   U64 const actionIds[3] = {p.actionIdOnMiss, p.actionIdHit, p.actionIdHitEcmp};
   std::vector<U64> const fieldIds[3] = {
       {},
       {p.hitKeyIdFieldId, p.hitRwIdFieldId, p.hitProtFieldId, p.hitFragFieldId,
        p.hitNextHopFieldId},
       {p.hitEcmpKeyIdFieldId, p.hitEcmpRwIdFieldId, p.hitEcmpProtFieldId, p.hitEcmpFragFieldId,
        p.hitEcmpEcmpGroupFieldId}};
   // "op(id, value)" for each field, or "op(id)" without values.
   static V each(char const* op, std::vector<U64> const& ids, std::vector<U64> const& vals = {}) {
      V out;
      for (size_t i = 0; i < ids.size(); ++i)
         out.push_back(call(op, vals.empty() ? std::vector{ids[i]} : std::vector{ids[i], vals[i]}));
      return out;
   }
   std::vector<U64> keyIds() const {
      return concat(l.vrf ? std::vector<U64>{p.vrfKeyFieldId} : std::vector<U64>{},
                    {p.dipKeyFieldId, p.sipKeyFieldId});
   }
   // A BfRt action's data object (made at its kind's first use), its values, and its parameters
   // as the SDK call carries them.
   V data(unsigned t, Action const& a) {
      V out;
      if (made.insert(t).second)
         out = {call("dataAllocate", {dev}), call("dataReset", {dev, actionIds[t]})};
      return join(out, each("data.setValue", fieldIds[t], actionArgs(*a)));
   }
   std::vector<U64> params(unsigned t, Action const& a) const {
      std::vector<U64> v = concat({actionIds[t]}, actionArgs(*a));
      v.resize(6);
      return v;
   }
};

TEST_P(Paths, EveryPathCallsTheSdkAndReadsBack) {
   V const created = rig.timeline();
   V bind;
   std::size_t target = 0;  // BfRt: where the binding sets the device target
   if (!l.bfrt) bind.push_back(call(pd("set_property"), {kSess, dev, 1, pipe != kAll}));
   U64 const scope = pipe != kAll;
   if (l.bfrt) {
      for (auto const& c :
           {"tableTypeGet", "keyAllocate", "keyReset", "keyAllocate", "dataAllocate"})
         bind.push_back(call(c, {dev}));
      // Before the scope is set the chip refuses a single-pipe target; binding ignores that.
      target = bind.size();
      bind.push_back(call("devTargetSet", {dev, pipe}, pipe == kAll ? 0 : 3));
      bind.insert(bind.end(), {call("attributeAllocate", {dev, 0}),
                               call("attributes.entryScopeParamsSet", {scope}),
                               call("tableAttributesSet", {s, dev, pipe, scope})});
      if (l.actionProfile) {
         for (auto const& c : {"tableTypeGet", "keyAllocate", "dataAllocate"})
            bind.push_back(call(c, {dev}));
         bind.push_back(call("devTargetSet", {dev, pipe}));
      }
   }
   bind.push_back("resyncStatus");
   EXPECT_EQ(V(std::find(created.begin(), created.end(), bind.front()), created.end()), bind);
   auto const alloc = [&](MatchC const& m, char const* name) {
      return "alloc " + std::to_string(rig.keys->keyOf(m.ptr())) + " " + name;
   };

   // Nothing is written under level 9.
   Zin::traceLevelIs(kTraceFacility, 8);
   rig.table->entryByHandle(1);
   EXPECT_EQ(took(), V{});
   Zin::traceLevelIs(kTraceFacility, 9);

   for (unsigned t = 0; t < 3; ++t) {
      SCOPED_TRACE(kSuffix[t]);
      unsigned const u = (t + 1) % 3;
      // The VRF goes in only where the table offers it; PD programs an unset one as 0.
      Match const m = matchOf(0x0a000001 + t, 0x0b000001, l.vrf ? 30 + int(t) : -1);
      rig.name(m, "m");
      U64 const v = m->l3InfoVrfId(), dip = m->outerIpv4HdrDip(), sip = m->outerIpv4HdrSip();
      Action const a = actionOf(actionType(t), 7 + t, 9 + t, 6, 1, 100 + t);
      Action const b = actionOf(actionType(u), 17 + t, 19 + t, 5, 0, 110 + t);
      MatchC const readAs = matchOf(dip, sip, l.bfrt && !l.vrf ? -1 : int(v));

      // Add: a new key and a fresh status; BfRt writes the match key before it takes the key.
      V got = rig.timelineOf([&] { rig.program(m, a); });
      Hdl const h = rig.handles().entry(m);
      V want = l.bfrt ? each("key.setValue", keyIds(),
                             concat(l.vrf ? std::vector{v} : std::vector<U64>{}, {dip, sip}))
                      : V{};
      want.push_back(alloc(m, "m"));
      if (l.bfrt) {
         want = join(want, data(t, a));
         want.push_back(
             call("tableEntryAdd", concat({s, dev, pipe, l.vrf ? v : 0, dip, sip}, params(t, a))));
      } else {
         want.push_back(call(pd(std::string("table_add_with_") + kSuffix[t]),
                             concat({kSess, dev, pipe, v, dip, sip}, actionArgs(*a))));
      }
      EXPECT_EQ(got, join(want, {"initStatus m"}));
      EXPECT_EQ(describe(rig.table->entryByHandle(h)), describe(readAs, a));
      EXPECT_EQ(took(), join(head(is, m, t), {is + ": Adding new entry", byHandle}));
      // An equal-valued new object is an add too, which the chip refuses as a duplicate key.
      EXPECT_EQ(thrownBy([&] { rig.program(matchOf(dip, sip, l.vrf ? int(v) : -1), a); }).status,
                4);
      took();

      // Modify to the next action: same handle, no key, fresh status.
      got = rig.timelineOf([&] { rig.program(m, b); });
      want = l.bfrt ? data(u, b) : V{};
      want.push_back(
          l.bfrt ? call("tableEntryModByHandle", concat({s, dev, pipe, 0x20, h}, params(u, b)))
                 : call(pd(std::string("table_modify_with_") + kSuffix[u]),
                        concat({kSess, dev, h}, actionArgs(*b))));
      EXPECT_EQ(got, join(want, {"initStatus m"}));
      EXPECT_EQ(took(), join(head(is, m, u), {is + ": Modifying existing entry"}));

      // Readback: BfRt reads the key fields (the VRF only where the table has it), then the
      // action's data fields. A parameter the chip holds wider than its attribute reads back cut
      // to the attribute's width: a hit's prot, an ECMP group, nothing of a miss.
      U32 const wide[][2] = {{2, 0x1FF}, {4, 0xABCDE}, {1, 55}};
      ASSERT_EQ(rig.chip->rawParamIs(h, wide[t][0], wide[t][1]), 0);
      Action const cut =
          actionOf(actionType(u), 17 + t, 19 + t, t == 0 ? 0xFF : 5, 0, t == 1 ? 0xBCDE : 110 + t);
      TwiceNatAddrOnlyTableEntry back;
      got = rig.timelineOf([&] { back = rig.table->entry(m); });
      want = {call(pd("get_entry"), {kSess, dev, h, 0})};
      if (l.bfrt) {
         want = {call("keyReset", {dev}), call("dataReset", {dev}),
                 call("tableEntryGet", {s, dev, pipe, 0, h}), call("data.actionIdGet", {})};
         want =
             join(join(want, each("key.getValue", keyIds())), each("data.getValue", fieldIds[u]));
      }
      EXPECT_EQ(got, want);
      EXPECT_EQ(describe(back), describe(readAs, cut));
      // New objects at each read: neither the programmed spec nor another read's.
      EXPECT_FALSE(back.match() == MatchC(m) || isEq(back, rig.table->entryByHandle(h)));
      EXPECT_EQ(took(), (V{lookup, byHandle, byHandle}));

      // Default: the key only at the first setting; the SDK's handle is recorded.
      got = rig.timelineOf([&] { rig.program(rig.dflt(), a); });
      want = t == 0 ? V{alloc(rig.dflt(), "dflt")} : V{};
      if (l.bfrt) want = join(want, data(t, a));
      want.push_back(l.bfrt
                         ? call("tableDefaultEntrySet", concat({s, dev, pipe, 0x20}, params(t, a)))
                         : call(pd(std::string("set_default_action_") + kSuffix[t]),
                                concat({kSess, dev, pipe}, actionArgs(*a))));
      EXPECT_EQ(got, join(want, {"initStatus dflt"}));
      EXPECT_EQ(rig.handles().entry(rig.dflt()), chip::Chip::defaultHandle(l.pipe));
      EXPECT_EQ(took(), join(head(is, rig.dflt(), t), {is + ": Setting default action"}));
      if (!l.bfrt) {
         EXPECT_EQ(describe(rig.table->entry(rig.dflt())), describe(matchOf(0, 0, 0), a));
         EXPECT_EQ(took(), (V{lookup, byHandle}));
      }

      // Delete: the status is reset before the SDK call; the key stays for the agent to free.
      got = rig.timelineOf([&] { rig.table->entryDel(m); });
      EXPECT_EQ(got, (V{"initStatus m", l.bfrt ? call("tableEntryDelByHandle", {s, dev, pipe, h})
                                               : call(pd("table_delete"), {kSess, dev, h})}));
      EXPECT_TRUE(rig.table->entry(m).empty());
      EXPECT_TRUE(rig.table->entryByHandle(h).empty());
      EXPECT_NE(rig.keys->release(m.ptr()), 0u);
      EXPECT_EQ(took(), join(head(del, m), {lookup, byHandle}));
   }

   // Reset of the default entry: the target, no handle.
   EXPECT_EQ(
       rig.timelineOf([&] { rig.table->entryDel(rig.dflt()); }),
       (V{"initStatus dflt", l.bfrt ? call("tableDefaultEntryReset", {s, dev, pipe})
                                    : call(pd("table_reset_default_entry"), {kSess, dev, pipe})}));
   EXPECT_FALSE(rig.handles().entryHas(rig.dflt()));
   EXPECT_EQ(took(), head(del, rig.dflt()));

   // Binding again makes the same calls (with the scope set, a single-pipe target is taken) and
   // names its steps, BfRt once for each table it binds.
   bind.pop_back();
   if (l.bfrt) bind[target] = call("devTargetSet", {dev, pipe});
   EXPECT_EQ(rig.timelineOf([&] { rig.table->initializeTable(rig.table->helper()); }), bind);
   V want{"virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable" + be +
          "::initializeTable(const Ptr&): initializeTable"};
   want.insert(want.end(), l.bfrt ? 1 + l.actionProfile : 0,
               "void initBfRtTable(const BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHelper::Ptr&, "
               "BfRt::BfRtTablePtr): initBfRtTable");
   EXPECT_EQ(took(), want);
   // Then an all-zero spec that is not the table's own object is an ordinary add, the default
   // takes a key again after its reset, and BfRt makes its data object afresh after the binding.
   Match const zero = matchOf(0, 0);
   Action const miss = actionOf(onMissActionSpec);
   rig.name(zero, "zero");
   rig.keys->release(rig.dflt().ptr());  // as the agent frees it
   rig.mark();
   rig.program(zero, miss), rig.program(rig.dflt(), miss);
   EXPECT_EQ(rig.ops(), (V{alloc(zero, "zero"), "initStatus zero", alloc(rig.dflt(), "dflt"),
                           "initStatus dflt"}));
   EXPECT_EQ(chip::journalCalls(l.bfrt ? "tableEntryAdd" : pd("table_add_with_onMiss")).size(), 1u);
   EXPECT_EQ(chip::journalCalls("dataAllocate").size(), l.bfrt ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Paths,
                         testing::Values(Layout{"PdVrfPipeAll", false, true, kAll},
                                         Layout{"PdPipeAll", false, false, kAll},
                                         Layout{"PdVrfPipe2", false, true, 2},
                                         Layout{"PdPipe0", false, false, 0},
                                         Layout{"BfrtVrfPipeAll", true, true, kAll},
                                         Layout{"BfrtPipe1Profile", true, false, 1, true},
                                         Layout{"BfrtVrfPipe0Profile", true, true, 0, true}),
                         [](auto const& info) { return info.param.name; });

// A table that lets the VRF through where the BfRt table has no VRF field writes the key without
// it.
TEST(BfrtBinding, DropsTheVrfTheTableLacks) {
   Rig rig({.profile = {.vrfKeyField = false}});
   auto const table = twiceNatAddrOnlyTableBfrtFactory(rig.table->helper(), rig.km, rig.sm, 1);
   rig.mark();
   table->entryIs(entryOf(matchOf(1, 2, 7), actionOf(onMissActionSpec)));
   EXPECT_EQ(chip::journalCalls("key.setValue").size(), 2u);
   EXPECT_EQ(chip::journalCalls("tableEntryAdd").at(0).args.at(3), 0u);
}

}  // namespace
}  // namespace tabletest
