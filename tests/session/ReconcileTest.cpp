// What a start settles between the chip and the key table, each case made by changing one of
// the two files behind the agent's back, as a kill would (a damaged record is the key table's
// to drop at open, which leaves the case of a record that is gone). A read-only start counts
// the same and changes nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SessionRig.h"

namespace TwiceNatSessionTest {
namespace {

using testing::HasSubstr;
using TwiceNatCli::MatchKey;

TEST(Reconcile, OrphansAreAdoptedAndStaleRecordsDropped) {
   // Changes the files after entries 1..3 (handles h[0..2]) and a default (h[3]) were programmed.
   using Damage = std::function<void(StateFiles const&, std::vector<U32> const&)>;
   auto const delRecordOf = [](int i) -> Damage {
      return [i](StateFiles const& f, std::vector<U32> const& h) {
         auto kt = KeyTable::open(f.keys());
         kt->recordDel(keyOfHandle(*kt, h[std::size_t(i)]));
      };
   };
   struct Case {
      char const* name;
      Damage damage;
      U64 adopted, dropped;
      int gone;  // the entry the chip lost, 0 for none
   } const cases[] = {
       {"nothing changed", [](StateFiles const&, std::vector<U32> const&) {}, 0, 0, 0},
       {"an entry's record is gone", delRecordOf(1), 1, 0, 0},
       {"the default's record is gone", delRecordOf(3), 1, 0, 0},
       {"an entry is gone from the chip",
        [](StateFiles const& f, std::vector<U32> const& h) {
           ASSERT_EQ(chip::Chip::open(f.chip())->entryDel(h[0]), chip::status::kOk);
        },
        0, 1, 1},
   };
   TwiceNatCli::SdkLibrary sdk;
   for (Case const& k : cases) {
      SCOPED_TRACE(k.name);
      StateFiles files({64, 2, true, false, false});
      std::vector<U32> handles;
      std::vector<std::string> expected;
      {
         Start run(files, sdk);
         for (U32 n = 1; n <= 3; ++n) {
            run.s().program(entryOf(n));
            auto const is = [&](MatchKey const& m) { return m == entryOf(n).match; };
            handles.push_back(run.s().entries(is)[0].handle);
         }
         run.s().defaultIs(entryOf(9).action);
         handles.push_back(chip::Chip::defaultHandle(chip::kAllPipes));
         expected = contents(run.s());
      }
      if (k.gone) expected.erase(expected.begin() + k.gone - 1);
      k.damage(files, handles);
      U64 const records =
          KeyTable::open(files.keys(), TwiceNatAgent::KeyTableAccess::readOnly)->count();

      for (int pass = 0; pass < 2; ++pass) {
         Start ro(files, sdk, true);
         EXPECT_EQ((std::pair{ro.s().orphanEntries(), ro.s().staleRecords()}),
                   (std::pair{k.adopted, k.dropped}));
         EXPECT_THAT(ro.s().startNotes().back(), HasSubstr("read-only start, not reconciled"));
         EXPECT_EQ(ro.s().keys().table().count(), records) << "nothing written, pass " << pass;
      }
      {
         Start start(files, sdk);
         auto const& r = start.s().reconciled();
         EXPECT_EQ((std::pair{r.adopted, r.dropped}), (std::pair{k.adopted, k.dropped}));
         EXPECT_THAT(start.s().startNotes().back(), HasSubstr("start reconciled: "));
         EXPECT_EQ(contents(start.s()), expected);
         // The adopted entries are the agent's again: programming one modifies it.
         for (U32 n = 1; n <= 3; ++n) {
            auto const change = start.s().find(entryOf(n).match) ? start.s().program(entryOf(n))
                                                                 : AgentSession::Change::changed;
            EXPECT_EQ(change, AgentSession::Change::changed) << n;
         }
      }
      EXPECT_FALSE(Start(files, sdk, true).s().reconciledAnything()) << "settled for good";
   }
}

}  // namespace
}  // namespace TwiceNatSessionTest
