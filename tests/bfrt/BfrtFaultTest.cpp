// Every BfRt call of binding, programming, removal and readback failing with each status, and
// the checks that stop the process.
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "chip/BfRtTable.h"
#include "support/FaultSweep.h"

namespace tabletest {
namespace {

TEST(BfrtFaults, EveryCallFailsByItsRuleAndUndoesItsKey) {
   // The calls of each operation that fail by the rule of every BfRt call, then its own call
   // and the label it fails by ("" where no exception is due: the device target, a read).
   struct Op {
      char const* op;
      unsigned action;
      V calls;
      char const* own;
      char const* label;
   } const ops[] = {
       {"bind",
        0,
        {"tableTypeGet", "keyAllocate", "keyReset", "dataAllocate", "attributeAllocate",
         "attributes.entryScopeParamsSet", "tableAttributesSet"},
        "devTargetSet",
        ""},
       {"add",
        1,
        {"key.setValue", "dataAllocate", "dataReset", "data.setValue"},
        "tableEntryAdd",
        "twiceNatAddrOnly_tableEntryAdd"},
       {"modify",
        2,
        {"dataAllocate", "dataReset", "data.setValue"},
        "tableEntryModByHandle",
        "twiceNatAddrOnly_tableEntryMod"},
       {"default",
        1,
        {"dataReset", "data.setValue"},
        "tableDefaultEntrySet",
        "twiceNatAddrOnly_tableDefaultEntrySet"},
       {"remove", 0, {}, "tableEntryDelByHandle", "twiceNatAddrOnly_tableEntryDel"},
       {"remove default",
        0,
        {},
        "tableDefaultEntryReset",
        "twiceNatAddrOnly_tableDefaultEntryReset"},
       {"read",
        0,
        {"keyReset", "dataReset", "data.actionIdGet", "key.getValue", "data.getValue"},
        "tableEntryGet",
        ""},
   };
   for (Op const& o : ops) {
      bool const allocates = o.op == std::string("add") || o.op == std::string("default");
      for (std::string const& call : o.calls)
         expectFaults({.capacity = 256},
                      {call, o.op, o.action, "*", allocates && call != "key.setValue"});
      expectFaults({.capacity = 256}, {o.own, o.op, o.action, o.label, allocates});
   }
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

TEST(BfrtDeathTest, ViolationsStopWithTheirTexts) {
   expectDeaths(
       {}, "Bfrt", "fields:  l3InfoVrfId",
       {{"held with handle 0",
         [](Rig& r) {
            r.handles().entryIs(matchOf(1, 2), 0);
            r.table->entryDel(r.handles().entryIter().key());
         },
         assertion(entryDelFn("Bfrt"), "!!entry_hdl")},
        {"no scope attribute",
         [](Rig& r) {
            NoAttributeTable t(*r.chip, kDev, bfrt::BfRtTable::TableType::MATCH_DIRECT);
            ::initBfRtTable(r.table->helper(), &t);
         },
         assertion(
             "void initBfRtTable(const BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHelper::Ptr&, "
             "BfRt::BfRtTablePtr)",
             "tableAttrScope")}});
}

}  // namespace
}  // namespace tabletest
