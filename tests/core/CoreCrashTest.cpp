// A kill at every store of an atomic batch and of the rollback its last update sets off: after
// each, a read-only start counts what the next start settles and changes nothing; the next
// start must leave every entry (and the default) either as it was before the batch or as the
// batch made it, and the start after that must find nothing to settle.
#include <map>
#include <stdexcept>

#include "support/CrashSweep.h"

namespace TwiceNatCoreTest {
namespace {

using TwiceNatAgent::BatchMode;
using TwiceNatAgent::Code;
using TwiceNatAgent::Update;
using TwiceNatAgent::UpdateKind;
using State = std::map<std::string, std::string>;  // key text (or "default") to action text

State stateOf(AgentCore const& s) {
   State st;
   for (auto const& row : rowsOf(s)) {
      MatchKey k = row.entry.match;
      k.vrfGiven = false;
      st[TwiceNatAgent::keyText(k) + " vrf " + std::to_string(k.vrf)] =
          row.origin == TwiceNatAgent::EntryOrigin::missingOnChip ? "missing"
                                                                  : actionText(row.entry.action);
   }
   if (auto d = s.readDefault()) st["default"] = actionText(d->entry.action);
   return st;
}

// Each key's action in one state or the other (absent: "none").
std::string at(State const& s, std::string const& key) {
   auto const it = s.find(key);
   return it == s.end() ? "none" : it->second;
}

std::vector<Update> batchOf(bool vrf) {
   auto e = [vrf](U32 n, ActionKind kind = ActionKind::hit, U16 target = 7) {
      EntrySpec spec = entryOf(n, kind, target);
      if (!vrf) spec.match.vrf = 0;
      return spec;
   };
   return {{UpdateKind::insert, e(7)},
           {UpdateKind::insert, e(8, ActionKind::onMiss, 0)},
           {UpdateKind::modify, e(2, ActionKind::ecmp, 9)},
           {UpdateKind::remove, e(3)},
           {UpdateKind::defaultSet, e(0, ActionKind::ecmp, 4)},
           {UpdateKind::program, e(4, ActionKind::hit, 11)},
           {UpdateKind::program, e(9, ActionKind::ecmp, 12)},
           {UpdateKind::remove, e(5)},
           {UpdateKind::modify, e(99)}};  // no such entry: the batch rolls back
}

using Params = std::pair<char const*, chip::Profile>;

class CoreCrash : public testing::TestWithParam<Params> {};

TEST_P(CoreCrash, EveryStoreOfAnAtomicBatchAndItsRollbackIsAKillTheNextStartRecovers) {
   chip::Profile const& profile = GetParam().second;
   Sdk sdk;
   StateFiles pristine(profile), work(profile);
   std::vector<Update> const batch = batchOf(profile.vrfKeyField);
   State before, after;
   {
      Start s(pristine, sdk);
      for (U32 n = 1; n <= 6; ++n) {
         EntrySpec e = entryOf(n);
         if (!profile.vrfKeyField) e.match.vrf = 0;
         ASSERT_TRUE(s.s().program(e).status.ok());
      }
      ASSERT_TRUE(s.s().defaultIs(entryOf(0, ActionKind::hit, 5).action).status.ok());
      before = stateOf(s.s());
   }
   {
      // What the batch makes, without its failing last update.
      pristine.copyTo(work);
      Start w(work, sdk);
      auto const done =
          w.s().apply(std::span(batch).first(batch.size() - 1), BatchMode::continueOnError);
      ASSERT_TRUE(done.ok());
      after = stateOf(w.s());
   }
   ASSERT_NE(before, after);

   // Update by update, so that the sweep knows how far the batch got.
   auto run = [&](AgentCore& core, std::function<void()> const& ack) {
      auto t = core.begin(BatchMode::rollbackOnError);
      for (Update const& u : batch) {
         auto const r = t->apply(std::span(&u, 1));
         ack();
         if (r.ok()) continue;
         if (!r.rolledBack || !r.rollbackFailure.empty() || r.statuses[0].code != Code::notFound)
            throw std::runtime_error("the batch did not roll back whole");
         return;
      }
   };
   Sweep const sweep = sweepKills(
       pristine, work, sdk, batch.size(), run,
       [&](AgentCore& restarted, std::size_t acknowledged) {
          State const now = stateOf(restarted);
          for (State const* side : std::initializer_list<State const*>{&before, &after, &now}) {
             for (auto const& [key, action] : *side) {
                std::string const is = at(now, key);
                EXPECT_TRUE(is == at(before, key) || is == at(after, key))
                    << key << " holds '" << is << "' after " << acknowledged << " updates";
             }
          }
       },
       [&](AgentCore& s) {
          EXPECT_EQ(stateOf(s), before) << "the rollback undid the whole batch";
       });
   EXPECT_GT(sweep.crashes, 40u) << "the sweep reached the stores of the batch";
   EXPECT_GT(sweep.lastSteps, 10u) << "and of its rollback";
}

INSTANTIATE_TEST_SUITE_P(BackEnds, CoreCrash,
                         testing::Values(Params{"Pd", {64, 2, true, false, false}},
                                         Params{"Bfrt", {64, 2, true, true, false}},
                                         Params{"PdWithoutVrf", {64, 2, false, false, false}}),
                         [](auto const& info) { return std::string(info.param.first); });

}  // namespace
}  // namespace TwiceNatCoreTest
