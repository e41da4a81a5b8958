// One SDK call failing, with each status, inside one table operation of either back end: the
// throw follows the rule, a key allocated is freed again, the handle map (but for what a BfRt
// removal drops before its SDK call), keys and statuses stay, and the request then succeeds.
// Then, over each back end, the checks that stop the process, and tables without services.
#include <algorithm>

#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "chip/BfRtTable.h"

#include "support/TableRig.h"

namespace tabletest {
namespace {

struct Fault {
   bool bfrt;
   std::string call;
   // "bind", "add" (of a new match), "modify", "default" (first setting), "default again",
   // "remove", "remove default" or "read", with a match `m` held.
   std::string op;
   unsigned action;  // what the operation programs; `m` holds the next action
   // "" where no exception is due, "*" for the rule of every BfRt call, else the label of the
   // entry operation's rule.
   std::string label = {};
   bool allocates = false;  // a key is allocated before the call fails
};

std::vector<Fault> faults() {
   std::vector<Fault> f = {
       {false, pd("set_property"), "bind", 0},
       {false, pd("table_delete"), "remove", 1},
       {false, pd("table_reset_default_entry"), "remove default", 0},
       // A later default setting allocates nothing.
       {false, pd("set_default_action_twiceNatAddrOnlyHitEcmp"), "default again", 2}};
   for (unsigned t = 0; t < 3; ++t) {
      std::string const x = kSuffix[t];
      f.push_back({false, pd("table_add_with_" + x), "add", t, {}, true});
      f.push_back({false, pd("table_modify_with_" + x), "modify", t});
      f.push_back({false, pd("set_default_action_" + x), "default", t, {}, true});
   }
   for (Fault& one : f)
      one.label = one.call;
   f.push_back({false, pd("get_entry"), "read", 0, ""});
   // The BfRt calls of each operation that fail by the rule of every BfRt call, then its own
   // call and the label it fails by ("" where no exception is due: the device target, a read).
   char const* const bfrt[][4] = {
       {"bind",
        "tableTypeGet keyAllocate keyReset dataAllocate attributeAllocate "
        "attributes.entryScopeParamsSet tableAttributesSet",
        "devTargetSet", ""},
       {"add", "key.setValue dataAllocate dataReset data.setValue", "tableEntryAdd",
        "twiceNatAddrOnly_tableEntryAdd"},
       {"modify", "dataAllocate dataReset data.setValue", "tableEntryModByHandle",
        "twiceNatAddrOnly_tableEntryMod"},
       {"default", "dataReset data.setValue", "tableDefaultEntrySet",
        "twiceNatAddrOnly_tableDefaultEntrySet"},
       {"remove", "", "tableEntryDelByHandle", "twiceNatAddrOnly_tableEntryDel"},
       {"remove default", "", "tableDefaultEntryReset", "twiceNatAddrOnly_tableDefaultEntryReset"},
       {"read", "keyReset dataReset data.actionIdGet key.getValue data.getValue", "tableEntryGet",
        ""},
   };
   for (auto const& [op, calls, own, label] : bfrt) {
      std::string const o = op;
      bool const allocates = o == "add" || o == "default";
      unsigned const action = o == "modify" ? 2 : allocates;
      std::istringstream in(calls);
      for (std::string call; in >> call;)
         f.push_back({true, call, o, action, "*", allocates && call != "key.setValue"});
      f.push_back({true, own, o, action, label, allocates});
   }
   return f;
}

class Faults : public testing::TestWithParam<Fault> {};

TEST_P(Faults, FailureThrowsByItsRuleAndLeavesTheStateAsItWas) {
   Fault const& f = GetParam();
   bool const removal = f.op.starts_with("remove");
   for (auto const& [st, text] : kStatuses) {
      SCOPED_TRACE(testing::Message() << "status " << st);
      Rig rig({.profile = {.capacity = 256, .bfrt = f.bfrt}});
      Match const m = matchOf(1, 1, 1), m2 = matchOf(2, 2, 2);
      rig.name(m, "m"), rig.name(m2, "m2");
      rig.program(m, actionOf(actionType(f.action + 1), 1, 2, 3, 4, 5));
      if (f.op == "default again" || f.op == "remove default")
         rig.program(rig.dflt(), actionOf(onMissActionSpec));
      MatchC const s = f.op == "add"                               ? m2
                       : f.op.find("default") != std::string::npos ? rig.dflt()
                                                                   : m;
      auto state = [&] {
         auto& h = rig.handles();
         return std::vector<U64>{
             h.entries(),         h.entryHas(m),    h.entry(m),          h.entryHas(rig.dflt()),
             h.entry(rig.dflt()), rig.keys->size(), rig.statuses->size()};
      };
      std::vector<U64> want = state();
      if (removal && f.bfrt) {
         want[0]--;
         want[s == m ? 1 : 3] = want[s == m ? 2 : 4] = 0;
      }
      TwiceNatAddrOnlyTableEntry read;
      auto op = [&] {
         if (f.op == "bind")
            rig.table->initializeTable(rig.table->helper());
         else if (f.op == "read")
            read = rig.table->entry(m);
         else if (removal)
            rig.table->entryDel(s);
         else
            rig.program(s, actionOf(actionType(f.action), 6, 7, 8, 9, 10));
      };
      rig.mark();
      chip::faultIs(f.call, st);
      Thrown const rule = f.label.empty()  ? Thrown{}
                          : f.label == "*" ? Thrown{st == 10 ? "BfTryAgain" : "BfTableException",
                                                    st, std::string("BFRT call failed: ") + text}
                                           : entryFailure(f.label, st, text, f.bfrt);
      EXPECT_EQ(thrownBy(op), rule);
      EXPECT_EQ(chip::journalCalls(f.call).at(0).status, st);
      EXPECT_EQ(state(), want);
      std::string const name = rig.log.names[s.ptr()];
      V const services = removal       ? V{"initStatus " + name}
                         : f.allocates ? V{"alloc 2 " + name, "free 2"}
                                       : V{};
      EXPECT_EQ(rig.ops(), services);
      EXPECT_TRUE(read.empty());
      chip::faultsClear();
      if (removal && f.bfrt) continue;
      EXPECT_NO_THROW(op());
      EXPECT_EQ(chip::journal().back().status, 0);
      EXPECT_EQ(read.empty(), f.op != "read");
   }
}

INSTANTIATE_TEST_SUITE_P(Calls, Faults, testing::ValuesIn(faults()), [](auto const& info) {
   std::string name = (info.param.bfrt ? "Bfrt_" : "Pd_") + info.param.op + "_" + info.param.call;
   std::ranges::replace_if(
       name, [](unsigned char c) { return !std::isalnum(c); }, '_');
   return name;
});

class BackEnd : public testing::TestWithParam<bool> {
 protected:
   bool const bfrt = GetParam();
   chip::Profile const profile{.bfrt = bfrt};
   std::string const be = bfrt ? "Bfrt" : "Pd";
};
INSTANTIATE_TEST_SUITE_P(Both, BackEnd, testing::Bool(),
                         [](auto const& info) { return info.param ? "Bfrt" : "Pd"; });

TEST_P(BackEnd, TablesRunWithoutServices) {
   Rig bare({.profile = profile, .services = false});
   EXPECT_TRUE(bare.table->useBfRt() && bare.dflt() && bare.dflt()->isSet() == 0);
   Match const n = matchOf(5, 6);
   for (auto const& a : {actionOf(twiceNatAddrOnlyHitActionSpec), actionOf(onMissActionSpec)})
      bare.program(n, a), bare.program(bare.dflt(), a);  // add and first setting, then modify
   bare.table->entryDel(n), bare.table->entryDel(bare.dflt());
   EXPECT_EQ(bare.chip->count() + bare.keys->size(), 0u);
}

// A match table that answers an attribute allocation with success and no object.
class NoAttributeTable : public chip::ChipBfRtTable {
 public:
   using ChipBfRtTable::ChipBfRtTable;
   Status attributeAllocate(bfrt::TableAttributesType,
                            std::unique_ptr<bfrt::BfRtTableAttributes>*) const override {
      return 0;
   }
};

TEST_P(BackEnd, ViolationsStopTheProcessWithTheirTexts) {
   std::string const is = entryIsFn(be), del = entryDelFn(be);
   auto miss = [] { return actionOf(onMissActionSpec); };
   // An action whose kind says another class than it is.
   auto kindless = [](TwiceNatAddrOnlyActionSpecType made, int kind) {
      Action a = actionOf(made);
      a->actionTypeIs(TwiceNatAddrOnlyActionSpecType(kind));
      return a;
   };
   struct Case {
      char const* name;
      std::function<void(Rig&)> op;
      std::string fn, expr;
   };
   std::vector<Case> cases = {
       // Over a table without the VRF key field: the diagnostic line comes first.
       {"optional field", [=](Rig& r) { r.program(matchOf(1, 2, 3), miss()); }, is,
        "\"!mismatchedFields\" == nullptr"},
       {"null action", [](Rig& r) { r.table->entryIs(TwiceNatAddrOnlyTableEntry(matchOf(1, 2))); },
        is, "entry.action() != NULL"},
       {"null match", [=](Rig& r) { r.program(nullptr, miss()); }, is, "entry.match() != NULL"},
       {"unknown action",
        [=](Rig& r) { r.program(matchOf(1, 2), kindless(twiceNatAddrOnlyHitActionSpec, 7)); }, is,
        "0"},
       {"action of another class than its kind",
        [=](Rig& r) { r.program(matchOf(1, 2), kindless(onMissActionSpec, 2)); }, is, "0"},
       {"delete of an equal-valued match not held",
        [=](Rig& r) { r.program(matchOf(1, 2), miss()), r.table->entryDel(matchOf(1, 2)); }, del,
        "helper()->sdkHandles()->entryHas( match )"},
       {"default handle changed",
        [=](Rig& r) {
           r.program(r.dflt(), miss()), r.handles().entryIs(r.dflt(), 42);
           r.program(r.dflt(), miss());
        },
        is, "entry_hdl == default_hdl"},
       {"lookup of null", [](Rig& r) { r.table->entry(nullptr); }, kLookupFn, "match != NULL"},
   };
   if (bfrt) {
      cases.push_back({"held with handle 0",
                       [](Rig& r) {
                          r.handles().entryIs(matchOf(1, 2), 0);
                          r.table->entryDel(r.handles().entryIter().key());
                       },
                       del, "!!entry_hdl"});
      cases.push_back(
          {"no scope attribute",
           [](Rig& r) {
              NoAttributeTable t(*r.chip, kDev, bfrt::BfRtTable::TableType::MATCH_DIRECT);
              ::initBfRtTable(r.table->helper(), &t);
           },
           "void initBfRtTable(const BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHelper::Ptr&, "
           "BfRt::BfRtTablePtr)",
           "tableAttrScope"});
   }
   for (Case const& c : cases) {
      SCOPED_TRACE(c.name);
      bool const noVrf = c.name == std::string("optional field");
      std::string const diagnostic =
          escaped(std::string(kSourceName) + ":") + "[0-9]+: " +
          escaped(is +
                  ": strong assertion !mismatchedFields failed: supportedOptionalFields: 0 "
                  "isSet: 1 fields:  l3InfoVrfId\n") +
          ".*";
      EXPECT_DEATH(
          {
             Rig rig({.profile = {.vrfKeyField = !noVrf, .bfrt = bfrt}});
             c.op(rig);
          },
          (noVrf ? diagnostic : "") + assertion(c.fn, c.expr));
   }
}

}  // namespace
}  // namespace tabletest
