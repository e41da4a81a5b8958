#include <gtest/gtest.h>

#include "Pemra/Ptr.h"
#include "Zin/Entity.h"

namespace {

class Counted : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Counted>;
   ZIN_ALLOCATED(Counted)
};

TEST(Ptr, CountsFollowCopiesAndMoves) {
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Counted>()), 0);
   Counted::Ptr a = new Counted;
   EXPECT_EQ(a->references(), 1u);
   {
      Counted::Ptr b = a;
      EXPECT_EQ(a->references(), 2u);
      Pemra::Ptr<Counted const> c = std::move(b);
      EXPECT_EQ(a->references(), 2u);
      EXPECT_FALSE(b);
   }
   EXPECT_EQ(a->references(), 1u);
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Counted>()), 1);
   a = nullptr;
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Counted>()), 0);
}

}  // namespace
