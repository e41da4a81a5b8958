// Fault injection and the call journal, which the library's tests build on.
#include <functional>

#include "ChipFixture.h"
#include "chip/Faults.h"

namespace chiptest {
namespace {

struct FaultCase {
   char const* op;
   // One call of the operation on a fresh chip with an entry (handle `h`) at (1, 2, 3).
   std::function<Status(ChipFixture&, Hdl)> call;
};

class Faults : public ChipFixture, public testing::WithParamInterface<FaultCase> {
 public:
   Hdl h = 0;
   void SetUp() override {
      attachChip();
      ASSERT_EQ(addHit(match(1, 2, 3), hit(1, 2, 3, 4, 5), &h), 0);
   }
   std::unique_ptr<bfrt::BfRtTableData> data;
   std::unique_ptr<bfrt::BfRtTableKey> key;
};

TEST_P(Faults, FailTheNthCallOnceOrFromThenOn) {
   auto const& c = GetParam();
   chip::faultIs(c.op, 13, 2);
   EXPECT_EQ(c.call(*this, h), 0);
   EXPECT_EQ(c.call(*this, h), 13);
   EXPECT_EQ(c.call(*this, h), 0);
   chip::faultIs(c.op, 15, 2, true);
   EXPECT_EQ(c.call(*this, h), 0);
   EXPECT_EQ(c.call(*this, h), 15);
   EXPECT_EQ(c.call(*this, h), 15);
   chip::faultsClear();
   EXPECT_EQ(c.call(*this, h), 0);
}

std::shared_ptr<bfrt::BfRtSession> sess(ChipFixture& f) {
   return f.pd->bfRtTableIntf->bfRtSessionGet();
}
bfrt::BfRtTarget const kAllTgt{kDev, 0xFFFF};

INSTANTIATE_TEST_SUITE_P(
    Ops, Faults,
    testing::Values(
        FaultCase{"p4_pd_tolvex_switch_twiceNatAddrOnly_set_property",
                  [](ChipFixture& f, Hdl) { return f.pd->setProperty(kSess, kDev, 1, 0); }},
        FaultCase{
            "p4_pd_tolvex_switch_twiceNatAddrOnly_table_modify_with_onMiss",
            [](ChipFixture& f, Hdl h) { return f.pd->tableModifyWithOnMiss(kSess, kDev, h); }},
        FaultCase{"p4_pd_tolvex_switch_twiceNatAddrOnly_get_entry",
                  [](ChipFixture& f, Hdl h) { return f.read(h).status; }},
        FaultCase{"tableEntryGet",
                  [](ChipFixture& f, Hdl h) {
                     auto& x = static_cast<Faults&>(f);
                     if (!x.key) f.pd->bfRtTable->keyAllocate(&x.key);
                     if (!x.data) f.pd->bfRtTable->dataAllocate(&x.data);
                     return f.pd->bfRtTable->tableEntryGet(*sess(f), kAllTgt, 0, h, x.key.get(),
                                                           x.data.get());
                  }},
        FaultCase{"data.setValue",
                  [](ChipFixture& f, Hdl) {
                     auto& x = static_cast<Faults&>(f);
                     if (!x.data) f.pd->bfRtTable->dataAllocate(&x.data);
                     f.pd->bfRtTable->dataReset(f.pd->actionIdHit, x.data.get());
                     return x.data->setValue(f.pd->hitRwIdFieldId, 3);
                  }},
        FaultCase{"attributes.entryScopeParamsSet",
                  [](ChipFixture& f, Hdl) {
                     std::unique_ptr<bfrt::BfRtTableAttributes> a;
                     f.pd->bfRtTable->attributeAllocate(bfrt::TableAttributesType::ENTRY_SCOPE, &a);
                     return a->entryScopeParamsSet(
                         bfrt::TableEntryScope::ENTRY_SCOPE_ALL_PIPELINES);
                  }}),
    [](auto const& info) {
       std::string n = info.param.op;
       n = n.substr(n.rfind('_') + 1);
       std::erase(n, '.');
       return n;
    });

using FaultState = ChipFixture;

TEST_F(FaultState, FailingCallsChangeNothing) {
   attachChip();
   chip::faultIs("p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHit", 9);
   Hdl h = 0xdead;
   EXPECT_EQ(addHit(match(1, 2, 3), hit(1, 2, 3, 4, 5), &h), 9);
   EXPECT_EQ(h, 0xdeadu);
   EXPECT_EQ(chip->count(), 0u);
   ASSERT_EQ(addHit(match(1, 2, 3), hit(1, 2, 3, 4, 5), &h), 0);

   chip::faultIs("p4_pd_tolvex_switch_twiceNatAddrOnly_table_delete", 6);
   EXPECT_EQ(pd->tableDelete(kSess, kDev, h), 6);
   EXPECT_EQ(read(h).status, 0);
   chip::faultIs("p4_pd_tolvex_switch_twiceNatAddrOnly_set_property", 17);
   EXPECT_EQ(pd->setProperty(kSess, kDev, 1, 0), 17);
   // Faults count per operation: other operations are not affected.
   chip::faultIs("tableEntryAdd", 2, 1, true);
   EXPECT_EQ(pd->tableDelete(kSess, kDev, h), 0);
}

TEST_F(FaultState, JournalRecordsEveryCallOfBothFacesInOrder) {
   attachChip();
   Hdl h = 0;
   ASSERT_EQ(addMiss(match(1, 2, 3), &h), 0);
   EXPECT_TRUE(chip::journal().empty()) << "off by default";

   chip::journalEnabledIs(true);
   ASSERT_EQ(addHit(match(4, 5, 6), hit(7, 8, 9, 10, 11), &h), 0);
   EXPECT_EQ(pd->tableDelete(kSess, kDev, h + 100), 6);
   auto s = pd->bfRtTableIntf->bfRtSessionGet();
   std::unique_ptr<bfrt::BfRtTableData> data;
   ASSERT_EQ(pd->bfRtTable->dataAllocate(&data), 0);
   ASSERT_EQ(pd->bfRtTable->dataReset(pd->actionIdHit, data.get()), 0);
   ASSERT_EQ(data->setValue(pd->hitFragFieldId, 2), 0);
   ASSERT_EQ(
       pd->bfRtTable->tableEntryModByHandle(*s, bfrt::BfRtTarget{kDev, 0xFFFF}, 0x20, h, *data), 0);
   chip::journalEnabledIs(false);
   pd->tableDelete(kSess, kDev, h);

   using C = chip::JournalCall;
   std::vector<C> want = {
       C{"p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHit",
         {kSess, kDev, 0xFFFF, 4, 5, 6, 7, 8, 9, 10, 11},
         0},
       C{"p4_pd_tolvex_switch_twiceNatAddrOnly_table_delete", {kSess, kDev, h + 100}, 6},
       C{"dataAllocate", {kDev}, 0},
       C{"dataReset", {kDev, pd->actionIdHit}, 0},
       C{"data.setValue", {pd->hitFragFieldId, 2}, 0},
       C{"tableEntryModByHandle",
         {s->sessHandleGet(), kDev, 0xFFFF, 0x20, h, pd->actionIdHit, 0, 0, 0, 2, 0},
         0},
   };
   EXPECT_EQ(chip::journal(), want);
   EXPECT_EQ(chip::journal()[1].toString(),
             "p4_pd_tolvex_switch_twiceNatAddrOnly_table_delete(77, 3, " + std::to_string(h + 100) +
                 ") = 6");
   EXPECT_EQ(chip::journalCalls("dataReset").size(), 1u);
   chip::journalClear();
   EXPECT_TRUE(chip::journal().empty());
}

}  // namespace
}  // namespace chiptest
