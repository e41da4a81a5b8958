// What a start settles between the chip and the key table, each case made by changing one of
// the two files behind the agent's back, as a kill or damage would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SessionRig.h"

namespace TwiceNatSessionTest {
namespace {

using testing::HasSubstr;
using TwiceNatCli::ActionKind;
using TwiceNatCli::EntrySpec;
using TwiceNatCli::MatchKey;

EntrySpec entryOf(U32 n) {
   EntrySpec e;
   e.match = MatchKey{0x0A000000u + n, 0xC0A80000u + n, 1, true};
   e.action = {ActionKind::hit, U16(n), 2, 6, 0, 7};
   return e;
}

U64 keyOfHandle(KeyTable const& kt, U32 handle) {
   for (U64 slot = kt.nextTakenSlot(0); slot < kt.capacity(); slot = kt.nextTakenSlot(slot + 1)) {
      if (kt.record(slot + 1).sdkEntryHandle == handle) return slot + 1;
   }
   return 0;
}

using TwiceNatTest::flipByte;

TEST(Reconcile, OrphansAreAdoptedAndStaleRecordsDropped) {
   struct Case {
      char const* name;
      // Changes the files after three entries (handles h[0..2]) and a default were programmed.
      std::function<void(StateFiles const&, std::vector<U32> const&)> damage;
      U64 adopted, dropped;
      std::vector<std::string> table;  // entry 1..3 present, then the default line
   };
   std::string const def = "default hit keyId=9 rwId=2 prot=6 frag=0 nextHop=7";
   auto const delRecordOf = [](int i) {
      return [i](StateFiles const& f, std::vector<U32> const& h) {
         auto kt = KeyTable::open(f.keys());
         kt->recordDel(keyOfHandle(*kt, h[std::size_t(i)]));
      };
   };
   Case const cases[] = {
       {"nothing changed",
        [](StateFiles const&, std::vector<U32> const&) {},
        0,
        0,
        {"1", "2", "3"}},
       {"an entry's record is gone", delRecordOf(1), 1, 0, {"1", "2", "3"}},
       {"the default's record is gone", delRecordOf(3), 1, 0, {"1", "2", "3"}},
       {"an entry is gone from the chip",
        [](StateFiles const& f, std::vector<U32> const& h) {
           ASSERT_EQ(chip::Chip::open(f.chip())->entryDel(h[0]), chip::status::kOk);
        },
        0,
        1,
        {"2", "3"}},
       {"a record is damaged",
        [](StateFiles const& f, std::vector<U32> const& h) {
           auto kt = KeyTable::open(f.keys());
           U64 const key = keyOfHandle(*kt, h[2]);
           kt.reset();
           flipByte(f.keys(), KeyTable::recordOffset(key - 1) + 9);
        },
        1,
        0,
        {"1", "2", "3"}},
   };
   TwiceNatCli::SdkLibrary sdk;
   for (Case const& k : cases) {
      SCOPED_TRACE(k.name);
      StateFiles files({64, 2, true, false, false});
      std::vector<U32> handles;
      {
         Start run(files, sdk);
         for (U32 n = 1; n <= 3; ++n) {
            run.s().program(entryOf(n));
            handles.push_back(
                run.s()
                    .entries([&](MatchKey const& m) { return m == entryOf(n).match; })[0]
                    .handle);
         }
         run.s().defaultIs(entryOf(9).action);
         handles.push_back(chip::Chip::defaultHandle(chip::kAllPipes));
      }
      k.damage(files, handles);

      Start start(files, sdk);
      auto const& r = start.s().reconciled();
      EXPECT_EQ((std::pair{r.adopted, r.dropped}), (std::pair{k.adopted, k.dropped}));
      EXPECT_THAT(start.s().startNotes().back(), HasSubstr("start reconciled: "));
      expectFilesAgree(*start.chip, start.s().keys().table());
      std::vector<std::string> expected;
      for (auto const& n : k.table) {
         expected.push_back(TwiceNatCli::keyText(entryOf(U32(std::stoi(n))).match) +
                            " hit keyId=" + n + " rwId=2 prot=6 frag=0 nextHop=7");
      }
      expected.push_back(def);
      EXPECT_EQ(contents(start.s()), expected);
      // The adopted entries are the agent's again: programming one modifies it.
      for (U32 n = 1; n <= 3; ++n) {
         if (start.s().find(entryOf(n).match)) {
            EXPECT_EQ(start.s().program(entryOf(n)), AgentSession::Change::changed) << n;
         }
      }
   }
}

TEST(Reconcile, AReadOnlyStartCountsAndChangesNothing) {
   TwiceNatCli::SdkLibrary sdk;
   StateFiles files({64, 2, true, true, false});
   U32 lost = 0;
   {
      Start run(files, sdk);
      for (U32 n = 1; n <= 3; ++n)
         run.s().program(entryOf(n));
      lost = run.s().entries([](MatchKey const&) { return true; })[0].handle;
   }
   {
      auto kt = KeyTable::open(files.keys());
      kt->recordDel(keyOfHandle(*kt, lost));
   }
   for (int pass = 0; pass < 2; ++pass) {
      Start ro(files, sdk, true);
      EXPECT_EQ(ro.s().orphanEntries(), 1u);
      EXPECT_THAT(ro.s().startNotes().back(), HasSubstr("read-only start, not reconciled"));
      EXPECT_EQ(ro.s().keys().size(), 2u) << "nothing written, pass " << pass;
   }
   Start rw(files, sdk);
   EXPECT_EQ(rw.s().reconciled().adopted, 1u);
   EXPECT_EQ(rw.s().keys().size(), 3u);
}

}  // namespace
}  // namespace TwiceNatSessionTest
