// A kill at every store of a short agent session: after each, a read-only start counts what the
// next start settles (a chip entry without a key record, a record without a chip entry) and
// changes nothing; the next start must succeed and show the table as it was before or after the
// operation in flight, running the session again must reach the same final table, and the start
// after that must find nothing to settle.
#include <stdexcept>

#include "support/CrashSweep.h"

namespace TwiceNatCoreTest {
namespace {

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

   Sweep const sweep = sweepKills(
       pristine, work, sdk, after.size() - 1, script,
       [&](AgentCore& restarted, std::size_t acknowledged) {
          std::vector<std::string> const now = contents(restarted);
          ASSERT_LT(acknowledged, after.size());
          bool const before = now == after[acknowledged];
          bool const inFlight = acknowledged + 1 < after.size() && now == after[acknowledged + 1];
          EXPECT_TRUE(before || inFlight) << "after " << acknowledged << " operations";
          script(restarted, [] {});
          EXPECT_EQ(contents(restarted), after.back()) << "running the session again converges";
       },
       [&](AgentCore& s) { EXPECT_EQ(contents(s), after.back()); });
   EXPECT_GT(sweep.crashes, 30u) << "the sweep reached the stores of the session";
   EXPECT_TRUE(sweep.adopted && sweep.dropped)
       << "kills left chip entries without a record and records without an entry, and the starts "
          "counted them";
}

INSTANTIATE_TEST_SUITE_P(BackEnds, SessionCrash,
                         testing::Values(Params{"Pd", {64, 2, true, false, false}},
                                         Params{"Bfrt", {64, 2, true, true, false}},
                                         Params{"PdWithoutVrf", {64, 2, false, false, false}}),
                         [](auto const& info) { return std::string(info.param.first); });

}  // namespace
}  // namespace TwiceNatCoreTest
