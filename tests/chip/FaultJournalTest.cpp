// Fault injection and the call journal, which the library's tests build on.
#include <functional>

#include "ChipFixture.h"
#include "chip/Faults.h"

namespace chiptest {
namespace {

using Faults = ChipFixture;
using Statuses = std::vector<Status>;

TEST_F(Faults, FailTheNthCallOnceOrFromThenOnAndChangeNothing) {
   attachChip();
   Hdl h = 0;
   ASSERT_EQ(addHit(match(1, 2, 3), hit(1, 2, 3, 4, 5), &h), 0);
   auto* t = pd->bfRtTable;
   auto s = pd->bfRtTableIntf->bfRtSessionGet();
   std::unique_ptr<bfrt::BfRtTableKey> key;
   std::unique_ptr<bfrt::BfRtTableData> data;
   ASSERT_EQ(t->keyAllocate(&key), 0);
   ASSERT_EQ(t->dataAllocate(&data), 0);
   ASSERT_EQ(t->dataReset(pd->actionIdHit, data.get()), 0);
   std::string const pre = "p4_pd_tolvex_switch_twiceNatAddrOnly_";
   struct Row {
      std::string op;
      std::function<Status()> call;
   } const rows[] = {
       {pre + "table_modify_with_onMiss",
        [&] { return pd->tableModifyWithOnMiss(kSess, kDev, h); }},
       {"tableEntryGet",
        [&] {
           return t->tableEntryGet(*s, {kDev, kAll}, 0, h, key.get(), data.get());
        }},
   };
   for (auto const& r : rows) {
      SCOPED_TRACE(r.op);
      auto run = [&r](int n) {
         Statuses v;
         while (n--)
            v.push_back(r.call());
         return v;
      };
      chip::faultIs(r.op, 13, 2);
      EXPECT_EQ(run(3), (Statuses{0, 13, 0}));
      chip::faultIs(r.op, 15, 2, true);
      EXPECT_EQ(run(3), (Statuses{0, 15, 15}));
      chip::faultsClear();
      EXPECT_EQ(run(1), Statuses{0});
   }

   chip::faultIs(pre + "table_add_with_twiceNatAddrOnlyHit", 9);
   Hdl h2 = 0xdead;
   EXPECT_EQ(addHit(match(4, 5, 6), hit(1, 2, 3, 4, 5), &h2), 9);
   EXPECT_EQ(h2, 0xdeadu);
   EXPECT_EQ(chip->count(), 1u);
   chip::faultIs(pre + "table_delete", 6);
   EXPECT_EQ(pd->tableDelete(kSess, kDev, h), 6);
   EXPECT_EQ(read(h), "onMiss 1 2 3 0 0 0 0 0");
}

TEST_F(Faults, JournalRecordsEveryCallOfBothFacesInOrder) {
   attachChip();
   Hdl h = 0;
   ASSERT_EQ(addMiss(match(1, 2, 3), &h), 0);
   EXPECT_TRUE(chip::journal().empty()) << "off by default";

   chip::journalEnabledIs(true);
   ASSERT_EQ(addHit(match(4, 5, 6), hit(7, 8, 9, 10, 11), &h), 0);
   EXPECT_EQ(pd->tableDelete(kSess, kDev, h + 100), 6);
   std::unique_ptr<bfrt::BfRtTableData> data;
   ASSERT_EQ(pd->bfRtTable->dataAllocate(&data), 0);
   ASSERT_EQ(data->setValue(pd->hitFragFieldId, 2), 3);
   chip::journalEnabledIs(false);
   pd->tableDelete(kSess, kDev, h);

   using C = chip::JournalCall;
   std::vector<C> want = {
       C{"p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHit",
         {kSess, kDev, 0xFFFF, 4, 5, 6, 7, 8, 9, 10, 11},
         0},
       C{"p4_pd_tolvex_switch_twiceNatAddrOnly_table_delete", {kSess, kDev, h + 100}, 6},
       C{"dataAllocate", {kDev}, 0},
       C{"data.setValue", {pd->hitFragFieldId, 2}, 3},
   };
   EXPECT_EQ(chip::journal(), want);
}

}  // namespace
}  // namespace chiptest
