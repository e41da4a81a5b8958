// Counted pointers: counts across copies, moves and conversions, identity, casts, release of
// the object at its last pointer, and the two pointer modes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "Pemra/Ptr.h"
#include "Zin/Exception.h"
#include "Zin/PtrInterface.h"

namespace {

class Base : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Base>;
   using PtrConst = Pemra::Ptr<Base const>;
   Base() { ++live; }
   static inline int live = 0;
   ZIN_ALLOCATED(Base)

 protected:
   ~Base() override { --live; }
};

class Derived : public Base {
 public:
   using Ptr = Pemra::Ptr<Derived>;
   ZIN_ALLOCATED(Derived)
};

class Other : public Base {
 public:
   ZIN_ALLOCATED(Other)
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

TEST(Ptr, CountsFollowCopiesMovesAndConversions) {
   Derived::Ptr d = new Derived;
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Derived>()), 1);
   {
      Base::Ptr b = d;  // converting copy
      Base::PtrConst c = b;
      Base::PtrConst moved = std::move(c);  // a move takes no count
      EXPECT_FALSE(c);
      EXPECT_EQ(d->references(), 3u);
      Base::PtrConst fromDerived = Derived::Ptr(d);  // converting move of a temporary
      Base::Ptr& alias = b;
      b = alias;  // self-assignment keeps the count
      EXPECT_EQ(d->references(), 4u);
      b = nullptr;
      EXPECT_EQ(d->references(), 3u);
   }
   EXPECT_EQ(d->references(), 1u);
   Derived::Ptr e = new Derived;
   d = e;  // the old object goes with its last pointer
   EXPECT_TRUE(Base::live == 1 && e->references() == 2);
   d = e = nullptr;
   EXPECT_EQ(Base::live, 0);
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Derived>()), 0);
   Derived::Ptr none;
   Base::Ptr stillNone = none;  // copying null takes no count and does not crash
   EXPECT_FALSE(stillNone);
}

TEST(Ptr, ComparesByIdentityAndCastsTakeTheirOwnCount) {
   Pemra::Ptr<Mixed> m = new Mixed;
   Base::Ptr asBase = m;
   Zin::PtrInterface::PtrConst asRoot = m;
   ASSERT_NE(static_cast<void const*>(asBase.ptr()), static_cast<void const*>(m.ptr()));
   EXPECT_TRUE(m == asBase && asRoot == m && asBase != nullptr && Derived::Ptr() == nullptr);
   EXPECT_FALSE(Pemra::Ptr<Mixed>(new Mixed) == asBase);
   // Same address for equal pointers of either constness, as the hash of a key expects.
   EXPECT_EQ(std::hash<Base::Ptr>()(asBase), std::hash<Base::PtrConst>()(Base::PtrConst(asBase)));
   EXPECT_TRUE(Pemra::dynamic_ptr_cast<Mixed const>(Base::PtrConst(asBase)) == m);

   Base::Ptr b = new Derived;
   Derived::Ptr d = Pemra::ptr_cast<Derived>(b);
   EXPECT_TRUE(Pemra::dynamic_ptr_cast<Derived>(b) == b);
   EXPECT_FALSE(Pemra::dynamic_ptr_cast<Other>(b));  // wrong class: null, no count taken
   EXPECT_FALSE(Pemra::dynamic_ptr_cast<Mixed>(Zin::PtrInterface::Ptr(b)));
   EXPECT_EQ(b->references(), 2u);
   Base* raw = b.release();  // gives up the pointer, keeps the count
   EXPECT_EQ(raw->references(), 2u);
   raw->deleteRef();
}

TEST(PtrMode, RefusesAChangeOnceACountedObjectExists) {
   Base::Ptr keep = new Derived;
   Zin::PtrMode mode = Zin::ptrMode();
   EXPECT_NO_THROW(Zin::ptrModeIs(mode));  // no change, nothing to refuse
   EXPECT_THROW(
       Zin::ptrModeIs(mode == Zin::PtrMode::plain ? Zin::PtrMode::threadSafe : Zin::PtrMode::plain),
       Zin::Exception);
   EXPECT_EQ(Zin::ptrMode(), mode);
}

// The mode is process-wide and chosen before the first object, so the run starts afresh in a
// child process; nothing before the statement may create a counted object.
TEST(PtrModeDeathTest, ThreadSafeModeKeepsCountsAcrossThreads) {
   auto body = [] {
      Zin::ptrModeIs(Zin::PtrMode::threadSafe);
      if (Zin::ptrMode() != Zin::PtrMode::threadSafe) std::exit(2);
      Base::Ptr shared = new Derived;
      // Spare counts keep a torn count from freeing the object under the threads: the
      // failure shows as a wrong count instead of a crash.
      constexpr U32 kSpare = 1000;
      for (U32 i = 0; i < kSpare; ++i)
         shared->newRef();
      bool refused = false;
      try {
         Zin::ptrModeIs(Zin::PtrMode::plain);
      } catch (Zin::Exception const&) {
         refused = true;
      }
      auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
      std::atomic<bool> go{false};
      std::vector<std::thread> threads;
      for (int t = 0; t < 4; ++t) {
         threads.emplace_back([&shared, &go, until] {
            while (!go.load())
               std::this_thread::yield();
            while (std::chrono::steady_clock::now() < until) {
               for (int i = 0; i < 1000; ++i) {
                  Base::PtrConst copy = shared;
                  Base::Ptr again = copy.ptr() ? shared : nullptr;
               }
            }
         });
      }
      go = true;
      for (auto& t : threads)
         t.join();
      if (shared->references() != kSpare + 1) std::exit(3);
      for (U32 i = 0; i < kSpare; ++i)
         shared->deleteRef();
      shared = nullptr;
      std::exit(refused && Base::live == 0 ? 0 : 1);
   };
   EXPECT_EXIT(body(), testing::ExitedWithCode(0), "");
}

}  // namespace
