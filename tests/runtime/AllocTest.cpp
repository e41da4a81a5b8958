// Allocation tracking per class and the slab allocator under it.
#include <gtest/gtest.h>

#include <vector>

#include "Pemra/Ptr.h"
#include "Zin/Alloc.h"
#include "Zin/PtrInterface.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZIN_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZIN_TEST_ASAN 1
#endif
#endif

namespace {

class Small : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Small>;
   ZIN_ALLOCATED(Small)
   char payload[24] = {};
};

class Large : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Large>;
   ZIN_ALLOCATED(Large)
   char payload[700] = {};
};

TEST(Alloc, CountsLiveObjectsAndBytesPerClass) {
   Zin::AllocStats& small = Zin::allocStatsOf<Small>();
   Zin::AllocStats& large = Zin::allocStatsOf<Large>();
   EXPECT_EQ(small.className, Zin::typeNameOf<Small>());
   EXPECT_NE(small.className.find("Small"), std::string_view::npos);
   I64 totalBefore = static_cast<I64>(small.totalObjects.load());
   auto counts = [&] {
      return std::vector<I64>{small.liveObjects, small.liveBytes, large.liveObjects,
                              large.liveBytes};
   };
   {
      std::vector<Small::Ptr> smalls;
      for (int i = 0; i < 5; ++i)
         smalls.push_back(new Small);
      Large::Ptr big = new Large;
      EXPECT_EQ(counts(), (std::vector<I64>{5, 5 * sizeof(Small), 1, sizeof(Large)}));
      EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Large>()), 1);
      smalls.resize(2);
      EXPECT_EQ(counts(), (std::vector<I64>{2, 2 * sizeof(Small), 1, sizeof(Large)}));
   }
   EXPECT_EQ(counts(), (std::vector<I64>{0, 0, 0, 0}));
   EXPECT_EQ(static_cast<I64>(small.totalObjects.load()) - totalBefore, 5);
   EXPECT_EQ(Zin::liveObjects("no class of that name"), 0);
   bool listed = false;
   for (auto const& c : Zin::allocCounts())
      listed |= c.className == Zin::typeNameOf<Small>();
   EXPECT_TRUE(listed);
}

TEST(Slab, ReusesFreedBlocksPerSizeClassAndLeavesLargeOnesToTheHeap) {
   void* a = Zin::slabAllocate(40);
   Zin::slabFree(a, 40);
   EXPECT_EQ(Zin::slabAllocate(48), a);  // 40 and 48 share a 16-byte size class
   void* other = Zin::slabAllocate(64);
   EXPECT_NE(other, a);
   Zin::slabFree(other, 64);
   Zin::slabFree(a, 48);
   Small* first = Small::Ptr(new Small).ptr();
   EXPECT_EQ(Small::Ptr(new Small).ptr(), first);

   // Whether allocating up to `limit` blocks of `size`, past any the free lists still hold,
   // takes a new chunk.
   auto grows = [](std::size_t size, std::size_t limit) {
      std::size_t before = Zin::slabChunkCount();
      std::vector<void*> blocks;
      while (Zin::slabChunkCount() == before && blocks.size() < limit)
         blocks.push_back(Zin::slabAllocate(size));
      bool grew = Zin::slabChunkCount() > before;
      for (void* p : blocks)
         Zin::slabFree(p, size);
      return grew;
   };
   EXPECT_TRUE(grows(512, 1000000));  // the largest class comes from chunks
   EXPECT_FALSE(grows(513, 2000));    // one byte more comes from the heap
   EXPECT_FALSE(grows(sizeof(Large), 2000));
}

#ifdef ZIN_TEST_ASAN
TEST(SlabDeathTest, UseOfAFreedObjectIsDetected) {
   EXPECT_DEATH(
       {
          Small* stale = Small::Ptr(new Small).ptr();
          // Read its bytes rather than a member, which the type check would report first.
          volatile char c = reinterpret_cast<char volatile*>(stale)[20];
          (void)c;
       },
       "AddressSanitizer: use-after-poison");
}
#endif

}  // namespace
