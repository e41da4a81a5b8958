// The slab under threads that make and drop counted objects at once, some dropping what
// another made: no block is handed out twice, and every class's counts return to where they
// started.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "Zin/Alloc.h"

namespace {

struct Small {
   U64 owner = 0;
   U64 serial = 0;
   ZIN_ALLOCATED(Small)
};

struct Large {
   U64 owner = 0;
   U64 serial = 0;
   char room[600];  // past the slab's biggest block: from the heap, still counted
   ZIN_ALLOCATED(Large)
};

struct Wide {
   U64 serial = 0;
   char room[56];  // a block of 64 bytes: a few hundred thousand fill several arenas
   ZIN_ALLOCATED(Wide)
};

template <class T>
I64 liveOf() {
   return Zin::liveObjects(Zin::typeNameOf<T>());
}

TEST(SlabTest, ThreadsMakeAndDropWithoutSharingABlock) {
   constexpr int kThreads = 4;
   constexpr int kRounds = 200;
   constexpr int kPerRound = 256;
   I64 const smallAtStart = liveOf<Small>();
   I64 const largeAtStart = liveOf<Large>();
   // Each thread leaves half of each round for the next thread to check and drop.
   std::array<std::atomic<std::vector<Small*>*>, kThreads> handed{};
   std::atomic<int> damaged{0};
   auto work = [&](int me) {
      std::vector<Small*> mine;
      for (int round = 0; round < kRounds; ++round) {
         for (int i = 0; i < kPerRound; ++i) {
            auto* s = new Small;
            s->owner = U64(me);
            s->serial = U64(round) * kPerRound + U64(i);
            mine.push_back(s);
         }
         delete new Large;
         // A block handed to two threads at once shows another's stamp here.
         for (std::size_t i = 0; i < mine.size(); ++i) {
            if (mine[i]->owner != U64(me) || mine[i]->serial != U64(round) * kPerRound + i) {
               ++damaged;
            }
         }
         auto* give = new std::vector<Small*>(mine.begin() + kPerRound / 2, mine.end());
         mine.resize(kPerRound / 2);
         for (Small* s : mine)
            delete s;
         mine.clear();
         if (auto* old = handed[(me + 1) % kThreads].exchange(give)) {
            for (Small* s : *old)
               delete s;
            delete old;
         }
      }
   };
   std::vector<std::thread> threads;
   for (int t = 0; t < kThreads; ++t)
      threads.emplace_back(work, t);
   for (std::thread& t : threads)
      t.join();
   for (auto& h : handed) {
      if (auto* left = h.exchange(nullptr)) {
         for (Small* s : *left)
            delete s;
         delete left;
      }
   }
   EXPECT_EQ(damaged.load(), 0);
   EXPECT_EQ(liveOf<Small>(), smallAtStart);
   EXPECT_EQ(liveOf<Large>(), largeAtStart);
}

TEST(SlabTest, CountsFollowEachObject) {
   I64 const start = liveOf<Small>();
   std::vector<Small*> made;
   for (int i = 0; i < 1000; ++i)
      made.push_back(new Small);
   EXPECT_EQ(liveOf<Small>(), start + 1000);
   auto const counts = Zin::allocCounts();
   auto it = std::find_if(counts.begin(), counts.end(), [](Zin::AllocCount const& c) {
      return c.className == Zin::typeNameOf<Small>();
   });
   ASSERT_NE(it, counts.end());
   EXPECT_EQ(it->liveBytes, it->liveObjects * I64(sizeof(Small)));
   for (Small* s : made)
      delete s;
   EXPECT_EQ(liveOf<Small>(), start);
}

// A slab that grows maps its next arena ahead and has it faulted in on another thread: every
// arena is still handed out once, and the objects made across them keep their bytes.
TEST(SlabTest, ObjectsAcrossManyArenasStayApart) {
   constexpr U64 kObjects = 200'000;  // 12.8 MB of blocks, six arenas or more
   std::size_t const mappedAtStart = Zin::slabBytes();
   std::vector<Wide*> made;
   made.reserve(kObjects);
   for (U64 i = 0; i < kObjects; ++i) {
      made.push_back(new Wide);
      made.back()->serial = i;
      std::fill(std::begin(made.back()->room), std::end(made.back()->room), char(i));
   }
   EXPECT_GE(Zin::slabBytes() - mappedAtStart, kObjects * sizeof(Wide));
   U64 damaged = 0;
   for (U64 i = 0; i < kObjects; ++i) {
      Wide const& w = *made[i];
      if (w.serial != i || std::count(std::begin(w.room), std::end(w.room), char(i)) != 56) {
         ++damaged;
      }
   }
   EXPECT_EQ(damaged, 0u);
   std::sort(made.begin(), made.end());
   EXPECT_EQ(
       std::adjacent_find(made.begin(), made.end(), [](Wide* a, Wide* b) { return b - a < 1; }),
       made.end());
   for (Wide* w : made)
      delete w;
   EXPECT_EQ(liveOf<Wide>(), 0);
}

}  // namespace
