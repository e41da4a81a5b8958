// A kill at every store of a short agent session: after each, a read-only start counts what the
// next start settles (a chip entry without a key record, a record without a chip entry) and
// changes nothing; the next start must succeed and show the table as it was before or after the
// operation in flight, running the session again must reach the same final table, and the start
// after that must find nothing to settle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "support/CoreRig.h"
#include "support/KilledChild.h"

namespace TwiceNatCoreTest {
namespace {

using testing::HasSubstr;

// Each step is one operation the agent acknowledges; `done` is told after each.
void script(AgentCore& s, std::function<void()> const& done) {
   auto fit = [&](MatchKey key) {
      if (!s.vrfKeyField()) key.vrf = 0;
      EXPECT_TRUE(s.fit(key, false).ok());
      return key;
   };
   auto ok = [&](TwiceNatAgent::Programmed const& p) {
      if (!p.status.ok()) throw std::runtime_error(p.status.message);
      done();
   };
   auto program = [&](EntrySpec e) {
      e.match = fit(e.match);
      ok(s.program(e));
   };
   program(entryOf(1));
   program(entryOf(2));
   program(entryOf(3, ActionKind::ecmp, 9));
   program(entryOf(2, ActionKind::hit, 11));  // modify
   ok(s.defaultIs(entryOf(0, ActionKind::hit, 5).action));
   ok(s.remove(fit(entryOf(1).match)));
   ok(s.defaultReset());
   ok(s.defaultIs(entryOf(0, ActionKind::ecmp, 4).action));
   ok(s.defaultIs(ActionValues{}));  // a default set to what a reset leaves
   for (U32 n = 10; n < 30; ++n)     // a small load
      program(entryOf(n));
}

using Params = std::pair<char const*, chip::Profile>;  // a name, and the chip

class SessionCrash : public testing::TestWithParam<Params> {};

TEST_P(SessionCrash, EveryStoreOfASessionIsAKillTheNextStartRecovers) {
   Sdk sdk;
   StateFiles pristine(GetParam().second), work(GetParam().second);
   Start{pristine, sdk};  // sets the table up on the chip

   // The table after each acknowledged operation, from a run that is not killed.
   std::vector<std::vector<std::string>> after;
   pristine.copyTo(work);
   {
      Start run(work, sdk);
      after.push_back(contents(run.s()));
      script(run.s(), [&] { after.push_back(contents(run.s())); });
   }

   U64 crashes = 0, adopted = 0, dropped = 0;
   for (U64 n = 1;; ++n) {
      SCOPED_TRACE("killed before store " + std::to_string(n));
      pristine.copyTo(work);
      TwiceNatTest::ChildEnd const end = TwiceNatTest::runKilledBefore(n, [&](auto const& ack) {
         Start run(work, sdk);
         script(run.s(), ack);
      });
      if (HasFailure() || end.finished) break;
      std::size_t const acknowledged = end.acknowledged;
      ++crashes;

      AgentCore::StartReport counted;
      {
         Start ro(work, sdk, true);
         counted = ro.s().startReport();
         EXPECT_THAT(counted.notes.back(), HasSubstr("read-only start, not reconciled: "));
      }
      {
         // The read-only start counted what this one settles, and so changed nothing.
         Start restart(work, sdk);
         auto const& r = restart.s().startReport();
         EXPECT_EQ((std::tuple{r.adopted, r.dropped, r.rewalked}),
                   (std::tuple{counted.adopted, counted.dropped, counted.rewalked}));
         adopted += r.adopted;
         dropped += r.dropped;
         std::vector<std::string> const now = contents(restart.s());
         ASSERT_LT(acknowledged, after.size());
         bool const before = now == after[acknowledged];
         bool const inFlight = acknowledged + 1 < after.size() && now == after[acknowledged + 1];
         EXPECT_TRUE(before || inFlight) << "after " << acknowledged << " operations";
         script(restart.s(), [] {});
         EXPECT_EQ(contents(restart.s()), after.back()) << "running the session again converges";
      }
      Start again(work, sdk);
      EXPECT_FALSE(again.s().startReport().reconciledAnything())
          << again.s().startReport().notes.back();
      if (HasFailure()) break;
   }
   EXPECT_GT(crashes, 30u) << "the sweep reached the stores of the session";
   EXPECT_TRUE(adopted && dropped) << "kills left chip entries without a record and records "
                                      "without an entry, and the starts counted them";
}

INSTANTIATE_TEST_SUITE_P(BackEnds, SessionCrash,
                         testing::Values(Params{"Pd", {64, 2, true, false, false}},
                                         Params{"Bfrt", {64, 2, true, true, false}},
                                         Params{"PdWithoutVrf", {64, 2, false, false, false}}),
                         [](auto const& info) { return std::string(info.param.first); });

}  // namespace
}  // namespace TwiceNatCoreTest
