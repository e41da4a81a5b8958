#pragma once
// Allocation tracking per class and the slab allocator that counted objects come from.
// A class opts in with ZIN_ALLOCATED(Class); each class that does gets its own counters,
// so a test can prove that every object it made is gone again.
#include <atomic>
#include <cstddef>
#include <string_view>
#include <vector>

#include "Zin/Types.h"

namespace Zin {

struct SlabPool;

struct AllocStats {
   std::string_view className;
   // Changed under the slab's lock, read by anyone.
   std::atomic<I64> liveObjects{0};
   std::atomic<I64> liveBytes{0};
   // The slab's free blocks of this class, made on its first allocation.
   SlabPool* slabPool = nullptr;
};

// One snapshot row: a class and its live counts at the time of the snapshot.
struct AllocCount {
   std::string_view className;
   I64 liveObjects;
   I64 liveBytes;
};

// The counters of the class named `className`; made on first use, never freed.
AllocStats& allocStatsIs(std::string_view className);
// Live counts of every class that has ever allocated, in order of first allocation.
std::vector<AllocCount> allocCounts();
// Live objects of one class (0 for a class that never allocated).
I64 liveObjects(std::string_view className);

// Per-size free lists over large chunks; blocks above the largest size class go to the heap.
void* slabAllocate(std::size_t size);
void slabFree(void* p, std::size_t size);
// Bytes the slab has mapped for its chunks so far (arenas of a huge page's size, outside the
// heap); it keeps them for reuse.
std::size_t slabBytes();

// Raw memory for a big table that is read at random (an index of a million entries): from
// 4 MiB on it is a mapping of its own, faulted in at once on small pages and then offered to
// the kernel for merging into huge pages in the background, so that its look-ups come to miss
// the TLB far less without a start paying for fresh huge pages; smaller blocks come from
// operator new. Give it back with tableFree and the same size.
void* tableAllocate(std::size_t bytes);
void tableFree(void* p, std::size_t bytes) noexcept;
// Bytes of the big tables' own mappings now live (operator new does not see them).
I64 tableBytes();

// The same for a standard container's array.
template <class T>
struct TableAllocator {
   using value_type = T;
   TableAllocator() = default;
   template <class U>
   TableAllocator(TableAllocator<U> const&) noexcept {}
   T* allocate(std::size_t n) { return static_cast<T*>(tableAllocate(n * sizeof(T))); }
   void deallocate(T* p, std::size_t n) noexcept { tableFree(p, n * sizeof(T)); }
   friend bool operator==(TableAllocator const&, TableAllocator const&) { return true; }
};

void* allocObject(AllocStats& stats, std::size_t size);
void freeObject(AllocStats& stats, void* p, std::size_t size) noexcept;

template <class T>
constexpr std::string_view typeNameOf() {
   std::string_view f = __PRETTY_FUNCTION__;
   auto begin = f.find("T = ") + 4;
   auto end = f.find_first_of(";]", begin);
   return f.substr(begin, end - begin);
}

template <class T>
AllocStats& allocStatsOf() {
   static AllocStats& stats = allocStatsIs(typeNameOf<T>());
   return stats;
}

}  // namespace Zin

// Class-level new and delete through the runtime: counted per class, taken from the slab.
#define ZIN_ALLOCATED(Class)                                                  \
   static void* operator new(std::size_t size) {                              \
      static_assert(alignof(Class) <= 16, "slab blocks are 16-byte aligned"); \
      return ::Zin::allocObject(::Zin::allocStatsOf<Class>(), size);          \
   }                                                                          \
   static void operator delete(void* p, std::size_t size) noexcept {          \
      ::Zin::freeObject(::Zin::allocStatsOf<Class>(), p, size);               \
   }
