// The slab under threads that make and drop counted objects at once, some dropping what
// another made: no block is handed out twice, and every class's counts return to where they
// started.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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

// What the kernel reports of the mapping that holds `p`.
struct Mapping {
   bool found = false;
   U64 rssKb = 0;
   U64 anonHugeKb = 0;
   bool hugeAdvised = false;  // asked for huge pages (madvise MADV_HUGEPAGE)
};

Mapping mappingOf(void const* p) {
   auto const at = reinterpret_cast<std::uintptr_t>(p);
   std::ifstream smaps("/proc/self/smaps");
   Mapping m;
   bool inside = false;
   for (std::string line; std::getline(smaps, line);) {
      std::uintptr_t from = 0, to = 0;
      char dash = 0;
      std::istringstream head(line);
      if (head >> std::hex >> from >> dash >> to && dash == '-') {
         if (inside) break;
         inside = from <= at && at < to;
         m.found = m.found || inside;
         continue;
      }
      if (!inside) continue;
      std::istringstream field(line);
      std::string name;
      field >> name;
      if (name == "Rss:") field >> m.rssKb;
      if (name == "AnonHugePages:") field >> m.anonHugeKb;
      if (name == "VmFlags:") {
         for (std::string flag; field >> flag;)
            m.hugeAdvised = m.hugeAdvised || flag == "hg";
      }
   }
   return m;
}

bool kernelHasHugePages() {
   std::error_code ec;
   return std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled", ec);
}

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
   Wide const* const first = made.front();
   std::sort(made.begin(), made.end());
   EXPECT_EQ(
       std::adjacent_find(made.begin(), made.end(), [](Wide* a, Wide* b) { return b - a < 1; }),
       made.end());
   // The arena of the first object made is used up by now: it is offered for huge pages.
   if (kernelHasHugePages()) {
      EXPECT_TRUE(mappingOf(first).hugeAdvised);
   }
   for (Wide* w : made)
      delete w;
   EXPECT_EQ(liveOf<Wide>(), 0);
}

// A big table is faulted in whole as it is made, on small pages (a fresh huge page can cost a
// start far more), and offered for huge pages afterwards; it keeps its bytes and goes back whole.
TEST(TableMemoryTest, BigTableIsFaultedInOnSmallPagesThenOfferedForHugePages) {
   if (!kernelHasHugePages()) {
      GTEST_SKIP() << "this kernel has no transparent huge pages";
   }
   constexpr std::size_t kBytes = std::size_t(8) << 20;
   I64 const bytesAtStart = Zin::tableBytes();
   auto* table = static_cast<unsigned char*>(Zin::tableAllocate(kBytes));
   Mapping const made = mappingOf(table);
   ASSERT_TRUE(made.found);
   EXPECT_GE(made.rssKb, kBytes / 1024);
   EXPECT_EQ(made.anonHugeKb, 0u);
   EXPECT_TRUE(made.hugeAdvised);
   EXPECT_EQ(Zin::tableBytes() - bytesAtStart, I64(kBytes));
   for (std::size_t i = 0; i < kBytes; i += 4096)
      table[i] = static_cast<unsigned char>(i >> 12);
   U64 wrong = 0;
   for (std::size_t i = 0; i < kBytes; i += 4096)
      wrong += table[i] != static_cast<unsigned char>(i >> 12);
   EXPECT_EQ(wrong, 0u);
   Zin::tableFree(table, kBytes);
   EXPECT_FALSE(mappingOf(table).found);
   EXPECT_EQ(Zin::tableBytes(), bytesAtStart);
}

}  // namespace
