// Every path of programming, removal and readback: the PD calls and their arguments, what the
// services are told and when, the handle map, and what the chip then reads back as.
#include <sstream>

#include "PdRig.h"

namespace pdtest {
namespace {

struct Shape {
   bool vrfKeyField;
   U16 pipe;
};

class PdPaths : public testing::TestWithParam<Shape> {};

TEST_P(PdPaths, EveryPathCallsTheSdkAndReadsBack) {
   Shape const shape = GetParam();
   Rig rig({shape.vrfKeyField, shape.pipe});
   U64 const pipe = shape.pipe;
   U64 const singlePipe = shape.pipe != kAllPipes ? 1 : 0;
   EXPECT_EQ(
       chip::journalCalls(pdName("set_property")),
       (std::vector<chip::JournalCall>{{pdName("set_property"), {kSess, kDev, 1, singlePipe}, 0}}));
   auto const& dflt = rig.defaultMatch();
   Hdl const defaultHdl = chip::Chip::defaultHandle(static_cast<U16>(shape.pipe));

   for (unsigned t = 0; t < 3; ++t) {
      SCOPED_TRACE(kActionSuffix[t]);
      auto const type = static_cast<TwiceNatAddrOnlyActionSpecType>(t);
      auto const next = static_cast<TwiceNatAddrOnlyActionSpecType>((t + 1) % 3);
      // The VRF goes in only where the table offers it; unset, it is programmed as 0.
      auto match = matchSpec(0x0a000001 + t, 0x0b000001, shape.vrfKeyField ? 30 + int(t) : -1);
      U64 const vrf = match->l3InfoVrfId();
      auto const action = actionSpec(type, U16(t));
      rig.log.clear();

      // Add.
      rig.program(match, action);
      Hdl const hdl = rig.handles().entry(match);
      EXPECT_EQ(rig.lastSdkCall(),
                (chip::JournalCall{pdName(std::string("table_add_with_") + kActionSuffix[t]),
                                   concat({kSess, kDev, pipe, vrf, match->outerIpv4HdrDip(),
                                           match->outerIpv4HdrSip()},
                                          actionArgs(*action)),
                                   0}));
      std::size_t const at = chip::journal().size();
      EXPECT_EQ(rig.log, (CallLog{{"alloc", rig.keys->keyOf(base(match)), base(match), at - 1},
                                  {"initStatus", 0, base(match), at}}));
      EXPECT_NE(hdl, 0u);
      TwiceNatAddrOnlyTableEntry expected(
          matchSpec(match->outerIpv4HdrDip(), match->outerIpv4HdrSip(), int(vrf)));
      expected.actionIs(action);
      EXPECT_EQ(describe(rig.table->entry(match)), describe(expected));
      EXPECT_EQ(describe(rig.table->entryByHandle(hdl)), describe(expected));

      // Modify to the next action: same handle, no key, fresh status.
      rig.log.clear();
      auto const changed = actionSpec(next, U16(t + 10));
      rig.program(match, changed);
      EXPECT_EQ(rig.lastSdkCall(),
                (chip::JournalCall{pdName(std::string("table_modify_with_") + kActionSuffix[next]),
                                   concat({kSess, kDev, hdl}, actionArgs(*changed)), 0}));
      EXPECT_EQ(rig.log, (CallLog{{"initStatus", 0, base(match), chip::journal().size()}}));
      EXPECT_EQ(rig.handles().entry(match), hdl);
      expected.actionIs(changed);
      EXPECT_EQ(describe(rig.table->entry(match)), describe(expected));

      // Default: the key only at the first setting; the SDK's handle is recorded then.
      rig.log.clear();
      rig.program(dflt, action);
      EXPECT_EQ(rig.lastSdkCall(),
                (chip::JournalCall{pdName(std::string("set_default_action_") + kActionSuffix[t]),
                                   concat({kSess, kDev, pipe}, actionArgs(*action)), 0}));
      CallLog want;
      if (t == 0)
         want.push_back(
             {"alloc", rig.keys->keyOf(base(dflt)), base(dflt), chip::journal().size() - 1});
      want.push_back({"initStatus", 0, base(dflt), chip::journal().size()});
      EXPECT_EQ(rig.log, want);
      EXPECT_EQ(rig.handles().entry(dflt), defaultHdl);
      TwiceNatAddrOnlyTableEntry dfltExpected(matchSpec(0, 0, 0));
      dfltExpected.actionIs(action);
      EXPECT_EQ(describe(rig.table->entry(dflt)), describe(dfltExpected));

      // Delete: the status is reset before the SDK is called; the key stays.
      rig.log.clear();
      std::size_t const before = chip::journal().size();
      rig.table->entryDel(match);
      EXPECT_EQ(rig.lastSdkCall(),
                (chip::JournalCall{pdName("table_delete"), {kSess, kDev, hdl}, 0}));
      EXPECT_EQ(rig.log, (CallLog{{"initStatus", 0, base(match), before}}));
      EXPECT_FALSE(rig.handles().entryHas(match));
      EXPECT_TRUE(rig.table->entry(match).empty());
      EXPECT_TRUE(rig.table->entryByHandle(hdl).empty());
      EXPECT_NE(rig.keys->keyOf(base(match)), 0u);
      rig.keys->release(base(match));  // the agent's side frees the key after a removal
   }

   // Reset of the default entry: the target, no handle.
   rig.log.clear();
   rig.table->entryDel(dflt);
   EXPECT_EQ(rig.lastSdkCall(),
             (chip::JournalCall{pdName("table_reset_default_entry"), {kSess, kDev, pipe}, 0}));
   EXPECT_EQ(rig.log.size(), 1u);
   EXPECT_FALSE(rig.handles().entryHas(dflt));
   EXPECT_EQ(rig.chip->count(), 0u);
   EXPECT_EQ(rig.chip->defaultAction(static_cast<U16>(shape.pipe)).action, chip::Action::onMiss);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PdPaths,
                         testing::Values(Shape{true, kAllPipes}, Shape{false, kAllPipes},
                                         Shape{true, 2}, Shape{false, 0}),
                         [](auto const& info) {
                            return std::string(info.param.vrfKeyField ? "Vrf" : "NoVrf") +
                                   (info.param.pipe == kAllPipes
                                        ? "AllPipes"
                                        : "Pipe" + std::to_string(info.param.pipe));
                         });

TEST(PdIdentity, MatchObjectsNotValuesChooseThePath) {
   Rig rig;
   auto a = matchSpec(1, 2, 3);
   rig.program(a, actionSpec(onMissActionSpec));
   // An equal-valued new object is an add, which the chip refuses as a duplicate key.
   auto twin = matchSpec(1, 2, 3);
   rig.log.clear();
   try {
      rig.program(twin, actionSpec(twiceNatAddrOnlyHitActionSpec));
      ADD_FAILURE() << "duplicate add succeeded";
   } catch (BfTable::BfTableException const& e) {
      EXPECT_EQ(e.status, 4);
      EXPECT_STREQ(
          e.what(),
          (pdName("table_add_with_twiceNatAddrOnlyHit") + "() failed: Already exists").c_str());
   }
   ASSERT_EQ(rig.log.size(), 2u);
   EXPECT_EQ(rig.log[0].op, "alloc");
   EXPECT_EQ(rig.log[1].op, "free");
   EXPECT_EQ(rig.log[1].key, rig.log[0].key);
   EXPECT_FALSE(rig.handles().entryHas(twin));
   EXPECT_TRUE(rig.table->entry(twin).empty());

   // An all-zero spec that is not the table's own object is an ordinary entry.
   auto zero = matchSpec(0, 0);
   rig.program(zero, actionSpec(onMissActionSpec));
   EXPECT_EQ(rig.lastSdkCall().name, pdName("table_add_with_onMiss"));
   EXPECT_EQ(rig.handles().entries(), 2u);

   // After a reset, setting the default again allocates a key and records the handle again.
   auto const& dflt = rig.defaultMatch();
   for (int round = 0; round < 2; ++round) {
      rig.log.clear();
      rig.program(dflt, actionSpec(twiceNatAddrOnlyHitEcmpActionSpec));
      ASSERT_FALSE(rig.log.empty());
      EXPECT_EQ(rig.log.front().op, "alloc");
      EXPECT_TRUE(rig.handles().entryHas(dflt));
      rig.table->entryDel(dflt);
      rig.keys->release(base(dflt));
   }
}

TEST(PdServices, TablesWithoutServicesMakeNoServiceCalls) {
   Rig rig({.keyManager = false, .statusManager = false});
   auto m = matchSpec(5, 6);
   rig.program(m, actionSpec(twiceNatAddrOnlyHitActionSpec));
   rig.program(m, actionSpec(onMissActionSpec));
   rig.program(rig.defaultMatch(), actionSpec(onMissActionSpec));
   rig.table->entryDel(m);
   rig.table->entryDel(rig.defaultMatch());
   EXPECT_TRUE(rig.log.empty());
   EXPECT_EQ(rig.keys->size(), 0u);
   EXPECT_EQ(rig.chip->count(), 0u);
}

TEST(PdReadback, UnknownHandlesAndFailedReadsGiveTheEmptyEntry) {
   Rig rig;
   auto m = matchSpec(8, 9, 0);
   rig.program(m, actionSpec(onMissActionSpec));
   Hdl const hdl = rig.handles().entry(m);
   EXPECT_TRUE(rig.table->entryByHandle(hdl + 1000).empty());
   chip::faultIs(pdName("get_entry"), 22);
   EXPECT_TRUE(rig.table->entry(m).empty());
   EXPECT_EQ(rig.lastSdkCall(),
             (chip::JournalCall{pdName("get_entry"), {kSess, kDev, hdl, 0}, 22}));
   // Two reads of one handle are two sets of new objects.
   auto first = rig.table->entryByHandle(hdl);
   auto second = rig.table->entryByHandle(hdl);
   EXPECT_EQ(describe(first), describe(second));
   EXPECT_NE(first.match(), second.match());
   EXPECT_NE(first.action(), second.action());
   EXPECT_FALSE(isEq(first, second));
}

TEST(PdTrace, Level9RecordsNameEachStep) {
   Rig rig;
   std::vector<std::pair<std::string, std::string>> records;
   Zin::traceSinkIs([&](Zin::TraceRecord const& r) {
      EXPECT_EQ(r.level, 9);
      EXPECT_EQ(r.source, kSourceName);
      records.emplace_back(std::string(r.function), std::string(r.text));
   });
   int const threshold = trace().threshold();
   auto m = matchSpec(1, 1);
   std::ostringstream addr;
   addr << static_cast<void const*>(m.ptr());
   trace().thresholdIs(8);
   rig.program(m, actionSpec(onMissActionSpec));
   EXPECT_TRUE(records.empty());

   trace().thresholdIs(9);
   rig.program(m, actionSpec(twiceNatAddrOnlyHitEcmpActionSpec));
   rig.program(rig.defaultMatch(), actionSpec(twiceNatAddrOnlyHitActionSpec));
   rig.table->entryDel(m);
   auto n = matchSpec(2, 2);
   rig.program(n, actionSpec(onMissActionSpec));
   rig.table->entryByHandle(1);
   rig.table->initializeTable(rig.table->helper());
   trace().thresholdIs(threshold);
   Zin::traceSinkIs({});

   std::string const is =
       "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::entryIs(const "
       "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)";
   std::string const del =
       "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::entryDel(const PtrConst&)";
   std::ostringstream dfltAddr, nAddr;
   nAddr << static_cast<void const*>(n.ptr());
   dfltAddr << static_cast<void const*>(rig.defaultMatch().ptr());
   decltype(records) const want = {
       {is, is + ", matchSpec: " + addr.str() + ", action: twiceNatAddrOnlyHitEcmpActionSpec"},
       {is, "Modifying existing entry"},
       {is, is + ", matchSpec: " + dfltAddr.str() + ", action: twiceNatAddrOnlyHitActionSpec"},
       {is, "Setting default action"},
       {del, del + ", matchSpec: " + addr.str()},
       {is, is + ", matchSpec: " + nAddr.str() + ", action: onMissActionSpec"},
       {is, "Adding new entry"},
       {"virtual BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry "
        "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::entryByHandle(BfnTable::BfnSdkEntryHandle) "
        "const",
        "entryByHandle"},
       {"virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::initializeTable(const Ptr&)",
        "initializeTable"},
   };
   EXPECT_EQ(records, want);
}

}  // namespace
}  // namespace pdtest
