// A kill before any store of a scripted session, and again before any store of the open that
// recovers from it, leaves a chip that opens, holds exactly the state before or after the
// operation in flight, and keeps working.
#include "ChipRig.h"
#include "support/KilledChild.h"

namespace chiptest {
namespace {

using chip::Chip;

// op: 'a' add keyOf(x, pipe y) with actOf(x * 10), 'm' modify the x-th add to actOf(y),
// 'd' delete the x-th add, 'D' set pipe x's default to actOf(y) (x -1: all pipes),
// 'r' reset pipe x's default, 'p' raw parameter 4 of the x-th add to y, 's' scope x.
struct Op {
   char op;
   int x, y;
};
constexpr Op kScript[] = {
    {'a', 1, -1},  {'a', 2, -1},      {'m', 0, 11},
    {'D', -1, 30}, {'d', 0, 0},       {'a', 3, -1} /* reuses a slot */,
    {'r', -1, 0},  {'p', 2, 0x12345}, {'d', 1, 0},
    {'d', 2, 0},   {'s', 1, 0},       {'a', 4, 0},
    {'a', 5, 1},   {'D', 1, 70},      {'m', 4, 61},
};

chip::Status apply(Chip& c, Op const& o) {
   uint32_t h = 0;
   uint32_t const added = chip::kFirstHandle + uint32_t(o.x);  // handle of the x-th add
   uint16_t const pipe = o.y < 0 ? chip::kAllPipes : uint16_t(o.y);
   uint16_t const ofX = o.x < 0 ? chip::kAllPipes : uint16_t(o.x);
   switch (o.op) {
      case 'a':
         return c.entryAdd(keyOf(o.x, pipe), actOf(o.x * 10), &h);
      case 'm':
         return c.entryMod(added, actOf(o.y));
      case 'd':
         return c.entryDel(added);
      case 'D':
         return c.defaultSet(ofX, actOf(o.y), &h);
      case 'r':
         return c.defaultReset(ofX);
      case 'p':
         return c.rawParamIs(added, 4, uint32_t(o.y));
      default:
         return c.scopeIs(uint32_t(o.x));
   }
}

chip::Profile const kProfile{.capacity = 3, .pipes = 2};

using CrashSweep = ChipRig;

TEST_F(CrashSweep, EveryKillLeavesTheStateBeforeOrAfterTheOperationInFlight) {
   // The state after each prefix of the script, from a chip in memory.
   std::vector<std::string> states;
   {
      auto c = Chip::createPrivate(kProfile);
      states.push_back(stateOf(*c));
      for (Op const& o : kScript) {
         ASSERT_EQ(apply(*c, o), 0);
         states.push_back(stateOf(*c));
      }
   }
   std::string const path = file();
   // The child acknowledges each step before it starts it: the last one is the one in flight.
   auto session = [&](std::function<void()> const& ack) {
      auto c = Chip::open(path);
      for (Op const& o : kScript) {
         ack();
         if (apply(*c, o) != 0) throw std::runtime_error("a step of the script failed");
      }
   };
   uint64_t n = 1;
   for (;; ++n) {
      SCOPED_TRACE("killed before store " + std::to_string(n));
      Chip::create(path, kProfile).reset();
      TwiceNatTest::ChildEnd const end = TwiceNatTest::runKilledBefore(n, session);
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
      // Acknowledged steps: none when killed while opening, else the last one is in flight.
      std::size_t const done = end.acknowledged, before = done ? done - 1 : 0;
      ASSERT_TRUE(stateOf(*c) == states[before] || stateOf(*c) == states[done])
          << stateOf(*c) << "\nbefore: " << states[before] << "\nafter:  " << states[done];
      expectWorks(c, path);
   }
   EXPECT_GT(n, 3 * std::size(kScript));
}

}  // namespace
}  // namespace chiptest
