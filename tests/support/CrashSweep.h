#pragma once
// A kill before every store of a run of the agent core over copies of the same state files:
// after each kill a read-only start counts what the next start settles (and so changes
// nothing), the next start must settle exactly that and pass the caller's check, and the start
// after it must find nothing to settle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "support/CoreRig.h"
#include "support/KilledChild.h"

namespace TwiceNatCoreTest {

struct Sweep {
   U64 crashes = 0;  // kills that landed before the run's end
   U64 adopted = 0;  // what the starts after them adopted and dropped
   U64 dropped = 0;
   U64 lastSteps = 0;  // kills after the run acknowledged all but its last step
};

// `run` calls `ack` after each step it completes; `check` gets the start after a kill and the
// steps acknowledged before it; `finished` the start after the run that no kill stopped.
inline Sweep sweepKills(StateFiles const& pristine, StateFiles const& work, Sdk const& sdk,
                        std::size_t steps,
                        std::function<void(AgentCore&, std::function<void()> const&)> const& run,
                        std::function<void(AgentCore&, std::size_t)> const& check,
                        std::function<void(AgentCore&)> const& finished) {
   Sweep sweep;
   for (U64 n = 1;; ++n) {
      SCOPED_TRACE("killed before store " + std::to_string(n));
      pristine.copyTo(work);
      TwiceNatTest::ChildEnd const end = TwiceNatTest::runKilledBefore(n, [&](auto const& ack) {
         Start s(work, sdk);
         run(s.s(), ack);
      });
      if (testing::Test::HasFailure()) break;
      if (end.finished) {
         Start s(work, sdk);
         finished(s.s());
         break;
      }
      ++sweep.crashes;
      sweep.lastSteps += end.acknowledged + 1 == steps;
      AgentCore::StartReport counted;
      {
         Start ro(work, sdk, true);
         counted = ro.s().startReport();
         EXPECT_THAT(counted.notes.back(), testing::HasSubstr("read-only start, not reconciled: "));
      }
      {
         Start restart(work, sdk);
         auto const& r = restart.s().startReport();
         EXPECT_EQ((std::tuple{r.adopted, r.dropped, r.rewalked}),
                   (std::tuple{counted.adopted, counted.dropped, counted.rewalked}))
             << "the read-only start counted what this one settles";
         sweep.adopted += r.adopted;
         sweep.dropped += r.dropped;
         check(restart.s(), end.acknowledged);
      }
      Start again(work, sdk);
      EXPECT_FALSE(again.s().startReport().reconciledAnything())
          << again.s().startReport().notes.back();
      if (testing::Test::HasFailure()) break;
   }
   return sweep;
}

}  // namespace TwiceNatCoreTest
