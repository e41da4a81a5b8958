// What both back ends do alike, run over each: tables without services and the checks that stop
// the process. (The path chosen by the match object's identity is the paths walk's.)
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "chip/BfRtTable.h"
#include "support/TableChecks.h"

namespace tabletest {
namespace {

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
   bare.program(n, actionOf(twiceNatAddrOnlyHitActionSpec));
   bare.program(n, actionOf(onMissActionSpec));
   bare.program(bare.dflt(), actionOf(onMissActionSpec));
   bare.table->entryDel(n);
   bare.table->entryDel(bare.dflt());
   EXPECT_EQ(bare.chip->count(), 0u);
   EXPECT_EQ(bare.keys->size(), 0u);
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
       {"lookup of null", [](Rig& r) { r.table->entry(nullptr); },
        "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::"
        "entry(const PtrConst&) const",
        "match != NULL"},
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
