#include "Zin/Alloc.h"

#include <sys/mman.h>

#include <sched.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define ZIN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZIN_ASAN 1
#endif
#endif
#ifdef ZIN_ASAN
#include <sanitizer/asan_interface.h>
#define ZIN_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define ZIN_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define ZIN_POISON(p, n) ((void)(p), (void)(n))
#define ZIN_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace Zin {
namespace {

constexpr std::size_t kGrain = 16;
constexpr std::size_t kClasses = 32;  // blocks up to 512 bytes come from the slab
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t pagesOf(std::size_t bytes) {
   return (bytes + 4095) / 4096 * 4096;
}

// `bytes` (a multiple of the page) of a mapping of its own, aligned to a huge page, faulted in
// on small pages whatever the system's default is (see hugePagesLater).
void* alignedMapping(std::size_t bytes) {
   void* raw = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
   if (raw == MAP_FAILED) throw std::bad_alloc();
   auto const start = reinterpret_cast<std::uintptr_t>(raw);
   std::uintptr_t const aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
   std::size_t const head = aligned - start;
   if (head != 0) ::munmap(raw, head);
   ::munmap(reinterpret_cast<void*>(aligned + bytes), kHugePage - head);
#ifdef MADV_NOHUGEPAGE
   ::madvise(reinterpret_cast<void*>(aligned), bytes, MADV_NOHUGEPAGE);  // a hint: failure is fine
#endif
   return reinterpret_cast<void*>(aligned);
}

// Offers a mapping whose pages are faulted in already to the kernel's background merging into
// huge pages. Fresh huge pages are asked for only this way: on a virtual machine whose host backs
// memory lazily, faulting in a fresh huge page can cost thirty times the same memory in small
// pages (0.7 s against 27 ms for 64 MB where this was measured), and that would fall on a start
// or a load.
void hugePagesLater(void* p, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
   ::madvise(p, bytes, MADV_HUGEPAGE);  // a hint: failure is fine
#else
   (void)p, (void)bytes;
#endif
}

struct FreeBlock {
   FreeBlock* next;
};

inline void relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
   __builtin_ia32_pause();
#elif defined(__aarch64__)
   asm volatile("yield");
#endif
}

// The slab's lock. Its holders run a few instructions (a free list's pop or push and the
// counts), so a waiter spins a little and then yields; taking it is one atomic exchange and
// leaving it a plain store, where a mutex pays an atomic operation for each.
class SlabLock {
 public:
   void lock() noexcept {
      while (held_.exchange(true, std::memory_order_acquire)) {
         for (int spin = 0; held_.load(std::memory_order_relaxed); ++spin) {
            if (spin < 64) {
               relax();
            } else {
               ::sched_yield();  // the holder may have lost its processor
            }
         }
      }
   }
   void unlock() noexcept { held_.store(false, std::memory_order_release); }

 private:
   std::atomic<bool> held_{false};
};

// A count that only holders of the slab's lock change: read and written without a locked
// instruction, and still read whole by anyone.
template <class T>
void addLocked(std::atomic<T>& count, T delta) {
   count.store(count.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

}  // namespace

// The free blocks of one class of objects (or of untyped blocks), by block size. Each class has
// chunks of its own, so that objects of a class made one after another lie together, whatever
// other classes are made between them: a table's specs then fill fewer lines and pages than
// when they alternate with the action specs made and dropped beside them.
struct SlabPool {
   FreeBlock* free[kClasses] = {};
   // The next chunk of each size: small at first, so that a class with few objects takes little.
   std::uint32_t chunkBytes[kClasses] = {};
};

namespace {

constexpr std::size_t kFirstChunkBytes = 4 * 1024;

class Slab {
 public:
   // `stats` (null for untyped blocks) counts the block, under the same lock.
   void* allocate(SlabPool& pool, std::size_t size, AllocStats* stats) {
      std::size_t cls = (size + kGrain - 1) / kGrain;
      if (size == 0 || cls > kClasses) {
         void* p = ::operator new(size);
         std::lock_guard<SlabLock> lock(lock_);
         count(stats, 1, size);
         return p;
      }
      std::lock_guard<SlabLock> lock(lock_);
      FreeBlock*& head = pool.free[cls - 1];
      if (!head) refill(pool, cls);
      FreeBlock* block = head;
      ZIN_UNPOISON(block, cls * kGrain);
      head = block->next;
      count(stats, 1, size);
      return block;
   }

   void free(SlabPool& pool, void* p, std::size_t size, AllocStats* stats) noexcept {
      std::size_t cls = (size + kGrain - 1) / kGrain;
      if (size == 0 || cls > kClasses) {
         ::operator delete(p);
         std::lock_guard<SlabLock> lock(lock_);
         count(stats, -1, size);
         return;
      }
      std::lock_guard<SlabLock> lock(lock_);
      auto* block = static_cast<FreeBlock*>(p);
      block->next = pool.free[cls - 1];
      pool.free[cls - 1] = block;
      // A stale pointer into a freed block now trips the address sanitizer.
      ZIN_POISON(block, cls * kGrain);
      count(stats, -1, size);
   }

   // The pool of a class, made on its first allocation.
   SlabPool& poolOf(SlabPool*& pool) {
      if (SlabPool* p = poolRead(pool)) return *p;
      std::lock_guard<SlabLock> lock(lock_);
      if (!pool)
         std::atomic_ref<SlabPool*>(pool).store(&pools_.emplace_back(), std::memory_order_release);
      return *pool;
   }

   SlabPool& untyped() { return untyped_; }

   std::size_t mappedBytes() {
      std::lock_guard<SlabLock> lock(lock_);
      return (arenas_.size() + (spare_ ? 1 : 0)) * kHugePage;
   }

   ~Slab() {
      if (spare_) ::munmap(spare_, kHugePage);
      for (void* arena : arenas_) {
         ZIN_UNPOISON(arena, kHugePage);
         ::munmap(arena, kHugePage);
      }
   }

 private:
   static void count(AllocStats* stats, I64 sign, std::size_t size) {
      if (!stats) return;
      addLocked(stats->liveObjects, sign);
      addLocked(stats->liveBytes, sign * static_cast<I64>(size));
   }
   static SlabPool* poolRead(SlabPool*& pool) {
      return std::atomic_ref<SlabPool*>(pool).load(std::memory_order_acquire);
   }

   // Chunks are cut from arenas of a huge page's size, which end up on huge pages: a table of a
   // million entries reads objects made at different times at random, and on small pages nearly
   // every such read would also miss the TLB. An arena is offered for merging once it is used up,
   // when all its pages are faulted in.
   char* takeChunk(std::size_t bytes) {
      if (arenaLeft_ < bytes) {
         arenas_.reserve(arenas_.size() + 1);
         if (arena_) hugePagesLater(arenas_.back(), kHugePage);
         arena_ = spare_ ? std::exchange(spare_, nullptr)
                         : static_cast<char*>(alignedMapping(kHugePage));
         arenas_.push_back(arena_);
         arenaLeft_ = kHugePage;
         if (arenas_.size() > 1) prepareSpare();
      }
      char* chunk = arena_;
      arena_ += bytes;
      arenaLeft_ -= bytes;
      return chunk;
   }

   void refill(SlabPool& pool, std::size_t cls) {
      std::size_t const blockBytes = cls * kGrain;
      std::uint32_t& next = pool.chunkBytes[cls - 1];
      if (next == 0) next = kFirstChunkBytes;
      std::size_t const chunkBytes = next;
      if (next < kChunkBytes) next *= 2;
      char* chunk = takeChunk(chunkBytes);
      FreeBlock*& head = pool.free[cls - 1];
      // Handed out from the chunk's start on.
      for (std::size_t off = chunkBytes / blockBytes * blockBytes; off >= blockBytes;) {
         off -= blockBytes;
         auto* block = reinterpret_cast<FreeBlock*>(chunk + off);
         block->next = head;
         head = block;
      }
      ZIN_POISON(chunk, chunkBytes);
   }

   // A slab past its first arena is filling a table: the next arena is mapped now and its pages
   // are faulted in on a thread of their own, so that the kernel's clearing runs beside the
   // caller rather than under its first store into each page.
   // The arena is handed out when needed whether or not that has finished: faulting in changes
   // no byte, and the slab is never unmapped.
   void prepareSpare() {
#ifdef MADV_POPULATE_WRITE
      try {
         spare_ = static_cast<char*>(alignedMapping(kHugePage));
         std::thread([arena = spare_] {
            ::madvise(arena, kHugePage, MADV_POPULATE_WRITE);  // a hint: failure is fine
         }).detach();
      } catch (std::exception const&) {
         // No room or no thread: the arena, if any, is faulted in as it is used.
      }
#endif
   }

   SlabLock lock_;
   char* spare_ = nullptr;
   SlabPool untyped_;
   std::deque<SlabPool> pools_;  // deque: a pool stays where it is as more come
   std::vector<void*> arenas_;
   char* arena_ = nullptr;
   std::size_t arenaLeft_ = 0;
};

Slab& slab() {
   // Never destroyed: objects held by other statics may be freed during exit.
   static Slab* s = new Slab;
   return *s;
}

struct StatsTable {
   std::mutex mutex;
   std::deque<AllocStats> stats;  // deque: addresses stay put as it grows
};

StatsTable& statsTable() {
   static StatsTable* t = new StatsTable;
   return *t;
}

}  // namespace

AllocStats& allocStatsIs(std::string_view className) {
   StatsTable& t = statsTable();
   std::lock_guard<std::mutex> lock(t.mutex);
   for (AllocStats& s : t.stats) {
      if (s.className == className) return s;
   }
   AllocStats& s = t.stats.emplace_back();
   s.className = className;
   return s;
}

std::vector<AllocCount> allocCounts() {
   StatsTable& t = statsTable();
   std::lock_guard<std::mutex> lock(t.mutex);
   std::vector<AllocCount> out;
   out.reserve(t.stats.size());
   for (AllocStats const& s : t.stats) {
      out.push_back({s.className, s.liveObjects.load(), s.liveBytes.load()});
   }
   return out;
}

I64 liveObjects(std::string_view className) {
   for (AllocCount const& c : allocCounts()) {
      if (c.className == className) return c.liveObjects;
   }
   return 0;
}

void* slabAllocate(std::size_t size) {
   Slab& s = slab();
   return s.allocate(s.untyped(), size, nullptr);
}
void slabFree(void* p, std::size_t size) {
   Slab& s = slab();
   s.free(s.untyped(), p, size, nullptr);
}
std::size_t slabBytes() {
   return slab().mappedBytes();
}

void* allocObject(AllocStats& stats, std::size_t size) {
   Slab& s = slab();
   return s.allocate(s.poolOf(stats.slabPool), size, &stats);
}

void freeObject(AllocStats& stats, void* p, std::size_t size) noexcept {
   if (!p) return;
   Slab& s = slab();
   s.free(s.poolOf(stats.slabPool), p, size, &stats);
}

namespace {
constexpr std::size_t kHugeTable = 2 * kHugePage;  // smaller tables gain too little
std::atomic<I64> gTableBytes{0};

// A big table's pages are all faulted in as it is made, half of them on a second thread: its
// container writes most of them at once (an index clears its slots, a growing list copies what
// it held), and the kernel's clearing of fresh pages then takes half the time.
void populateInHalves(char* base, std::size_t len) {
#ifdef MADV_POPULATE_WRITE
   std::size_t half = len / 2 / kHugePage * kHugePage;
   std::thread helper;
   try {
      helper = std::thread([=] { ::madvise(base + half, len - half, MADV_POPULATE_WRITE); });
   } catch (std::exception const&) {
      half = len;  // no second thread: this one faults in the whole table
   }
   ::madvise(base, half, MADV_POPULATE_WRITE);  // a hint: failure is fine
   if (helper.joinable()) helper.join();
#else
   (void)base, (void)len;
#endif
}

}  // namespace

// Big tables are mapped on their own, aligned to a huge page, so that nothing of the heap shares
// their pages and nothing is left over around them.
void* tableAllocate(std::size_t bytes) {
   if (bytes < kHugeTable) return ::operator new(bytes);
   std::size_t const len = pagesOf(bytes);
   void* p = alignedMapping(len);
   populateInHalves(static_cast<char*>(p), len);
   hugePagesLater(p, len);
   gTableBytes.fetch_add(static_cast<I64>(len), std::memory_order_relaxed);
   return p;
}

void tableFree(void* p, std::size_t bytes) noexcept {
   if (!p) return;
   if (bytes < kHugeTable) {
      ::operator delete(p);
      return;
   }
   ::munmap(p, pagesOf(bytes));
   gTableBytes.fetch_sub(static_cast<I64>(pagesOf(bytes)), std::memory_order_relaxed);
}

I64 tableBytes() {
   return gTableBytes.load(std::memory_order_relaxed);
}

}  // namespace Zin
