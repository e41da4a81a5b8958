// Counted objects: allocation tracking per class (which the test main's leak check relies on),
// pointer identity through any base, moves, casts, and the pointer mode. (A slab block of the
// wrong size breaks every suite; how the slab reuses blocks is the memory benchmark's.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "Pemra/Ptr.h"
#include "Zin/Alloc.h"
#include "Zin/Exception.h"
#include "Zin/PtrInterface.h"

namespace {

class Base : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Base>;
   using PtrConst = Pemra::Ptr<Base const>;
   ZIN_ALLOCATED(Base)
};

class Derived : public Base {
 public:
   using Ptr = Pemra::Ptr<Derived>;
   ZIN_ALLOCATED(Derived)
};

// Puts the counted base behind another polymorphic base, so it does not sit at offset 0.
struct Tag {
   virtual ~Tag() = default;
   long tag = 7;
};
class Mixed : public Tag, public Base {
 public:
   ZIN_ALLOCATED(Mixed)
};

TEST(Alloc, CountsLiveObjectsAndBytesPerClass) {
   Zin::AllocStats const &d = Zin::allocStatsOf<Derived>(), &m = Zin::allocStatsOf<Mixed>();
   auto counts = [&] {
      return std::vector<I64>{d.liveObjects, d.liveBytes, m.liveObjects, m.liveBytes};
   };
   {
      std::vector<Base::Ptr> derived(5);
      for (auto& p : derived)
         p = new Derived;
      Pemra::Ptr<Mixed> mixed = new Mixed;
      EXPECT_EQ(counts(), (std::vector<I64>{5, 5 * sizeof(Derived), 1, sizeof(Mixed)}));
      EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Mixed>()), 1);
   }
   EXPECT_EQ(counts(), (std::vector<I64>{0, 0, 0, 0}));
}

// A count taken or dropped wrongly shows as a leak or a sanitizer error in every test; what is
// left is identity, moves and casts.
TEST(Ptr, IdentityThroughANonLeadingBaseMovesAndCasts) {
   Pemra::Ptr<Mixed> m = new Mixed;
   Base::Ptr asBase = m;
   Zin::PtrInterface::PtrConst asRoot = m;
   ASSERT_NE(static_cast<void const*>(asBase.ptr()), static_cast<void const*>(m.ptr()));
   EXPECT_TRUE(m == asBase && asRoot == m && asBase != nullptr);
   EXPECT_FALSE(Pemra::Ptr<Mixed>(new Mixed) == asBase);
   EXPECT_EQ(std::hash<Base::Ptr>()(asBase), std::hash<Base::PtrConst>()(Base::PtrConst(asBase)));
   EXPECT_TRUE(Pemra::dynamic_ptr_cast<Mixed const>(Base::PtrConst(asBase)) == m);
   Base::PtrConst moved = std::move(asBase);
   EXPECT_TRUE(!asBase && moved == m && m->references() == 3);

   Base::Ptr b = new Derived;
   EXPECT_TRUE(Pemra::ptr_cast<Derived>(b) == b && !Pemra::dynamic_ptr_cast<Mixed>(b));
}

// The mode is process-wide and chosen before the first object, so the run starts afresh in a
// child process; nothing before the statement may create a counted object.
TEST(PtrModeDeathTest, TheModeCannotChangeOnceObjectsExist) {
   auto body = [] {
      Zin::ptrModeIs(Zin::PtrMode::threadSafe);
      Base::Ptr const held = new Derived;
      try {
         Zin::ptrModeIs(Zin::PtrMode::plain);
      } catch (Zin::Exception const&) {
         std::exit(Zin::ptrMode() == Zin::PtrMode::threadSafe ? 0 : 1);
      }
      std::exit(1);
   };
   EXPECT_EXIT(body(), testing::ExitedWithCode(0), "");
}

}  // namespace
