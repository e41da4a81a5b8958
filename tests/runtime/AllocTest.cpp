// Allocation tracking per class and the slab allocator under it.
#include <gtest/gtest.h>

#include <vector>

#include "Pemra/Ptr.h"
#include "Zin/Alloc.h"
#include "Zin/PtrInterface.h"

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
   }
   EXPECT_EQ(counts(), (std::vector<I64>{0, 0, 0, 0}));
}

TEST(Slab, ReusesFreedBlocksPerSizeClassAndLeavesLargeOnesToTheHeap) {
   void* a = Zin::slabAllocate(40);
   Zin::slabFree(a, 40);
   EXPECT_EQ(Zin::slabAllocate(48), a);  // 40 and 48 share a 16-byte size class
   Zin::slabFree(a, 48);
   Small* first = Small::Ptr(new Small).ptr();
   EXPECT_EQ(Small::Ptr(new Small).ptr(), first);

   // Whether allocating up to `limit` blocks of `size`, past any the free lists hold, takes a
   // chunk.
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
}

}  // namespace
