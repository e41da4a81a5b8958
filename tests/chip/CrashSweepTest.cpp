// A kill before any store of a scripted session, and again before any store of the open that
// recovers from it, leaves a chip that opens, holds exactly the state before or after the
// operation in flight, and keeps working.
#include <functional>

#include "StateFixture.h"
#include "support/KilledChild.h"

namespace chiptest {
namespace {

using chip::Chip;
using Step = std::function<chip::Status(Chip&)>;

uint32_t sink;

// Handle of the i-th add of a session on a new chip.
uint32_t added(int i) {
   return chip::kFirstHandle + uint32_t(i);
}

std::vector<Step> const& script() {
   static std::vector<Step> const steps = {
       [](Chip& c) { return c.entryAdd(keyOf(1), actOf(10), &sink); },
       [](Chip& c) { return c.entryAdd(keyOf(2), actOf(20), &sink); },
       [](Chip& c) { return c.entryMod(added(0), actOf(11)); },
       [](Chip& c) {
          uint32_t h;
          return c.defaultSet(chip::kAllPipes, actOf(30), &h);
       },
       [](Chip& c) { return c.entryDel(added(0)); },
       [](Chip& c) { return c.entryAdd(keyOf(3), actOf(40), &sink); },  // reuses a slot
       [](Chip& c) { return c.defaultReset(chip::kAllPipes); },
       [](Chip& c) { return c.rawParamIs(added(2), 4, 0x12345); },
       [](Chip& c) { return c.entryDel(added(1)); },
       [](Chip& c) { return c.entryDel(added(2)); },
       [](Chip& c) { return c.scopeIs(1); },
       [](Chip& c) { return c.entryAdd(keyOf(4, 0), actOf(50), &sink); },
       [](Chip& c) { return c.entryAdd(keyOf(5, 1), actOf(60), &sink); },
       [](Chip& c) {
          uint32_t h;
          return c.defaultSet(1, actOf(70), &h);
       },
       [](Chip& c) { return c.entryMod(added(4), actOf(61)); },
   };
   return steps;
}

chip::Profile profile() {
   chip::Profile p;
   p.capacity = 3;
   p.pipes = 2;
   return p;
}

// The state after each prefix of the script, from a chip in memory.
std::vector<std::string> expectedStates() {
   auto c = Chip::createPrivate(profile());
   std::vector<std::string> states{stateOf(*c)};
   for (Step const& s : script()) {
      EXPECT_EQ(s(*c), 0);
      states.push_back(stateOf(*c));
   }
   return states;
}

class CrashSweep : public StateFolder {};

TEST_F(CrashSweep, EveryKillLeavesTheStateBeforeOrAfterTheOperationInFlight) {
   std::vector<std::string> const states = expectedStates();
   std::string const path = file();
   // The child acknowledges each step before it starts it: the last one is the one in flight.
   auto session = [&](std::function<void()> const& ack) {
      auto c = Chip::open(path);
      for (Step const& step : script()) {
         ack();
         if (step(*c) != 0) throw std::runtime_error("a step of the script failed");
      }
   };
   uint64_t n = 1;
   for (;; ++n) {
      SCOPED_TRACE("killed before store " + std::to_string(n));
      Chip::create(path, profile()).reset();
      TwiceNatTest::ChildEnd const end = TwiceNatTest::runKilledBefore(n, session);
      int const inFlight = int(end.acknowledged) - 1;  // -1: killed while opening
      if (end.finished) {
         auto c = Chip::open(path);
         EXPECT_EQ(stateOf(*c), states.back());
         EXPECT_TRUE(c->openNotes().empty());
         break;
      }
      // A kill of the recovering open itself changes nothing either.
      for (uint64_t m = 1; m < 20; ++m) {
         if (TwiceNatTest::runKilledBefore(m, [&](auto const&) { Chip::open(path); }).finished)
            break;
      }
      std::unique_ptr<Chip> c;
      ASSERT_NO_THROW(c = Chip::open(path));
      std::string const now = stateOf(*c);
      size_t done = size_t(inFlight + 1);
      ASSERT_TRUE(now == states[done - (inFlight >= 0)] || now == states[done])
          << now << "\nbefore: " << states[done - (inFlight >= 0)] << "\nafter:  " << states[done];
      // And it keeps working: a full table refuses, a delete makes room, a reopen is clean.
      uint16_t pipe = c->scope() == chip::Scope::allPipes ? chip::kAllPipes : 0;
      uint32_t h = 0;
      while (c->count() < c->capacity())
         ASSERT_EQ(c->entryAdd(keyOf(90 + int(c->count()), pipe), actOf(1), &h), 0);
      ASSERT_EQ(c->entryAdd(keyOf(99, pipe), actOf(1), &h), 9);
      ASSERT_EQ(c->entryDel(h), 0);
      ASSERT_EQ(c->entryAdd(keyOf(99, pipe), actOf(2), &h), 0);
      std::string const worked = stateOf(*c);
      c = Chip::open(path);
      EXPECT_EQ(stateOf(*c), worked);
      EXPECT_TRUE(c->openNotes().empty()) << c->openNotes().front();
   }
   EXPECT_GT(n, 3 * script().size());
   RecordProperty("stores", int(n));
}

}  // namespace
}  // namespace chiptest
