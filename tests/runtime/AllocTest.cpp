// Allocation tracking per class, which the test main's leak check relies on. (A slab block of
// the wrong size breaks every suite; how the slab reuses blocks is the memory benchmark's.)
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

}  // namespace
