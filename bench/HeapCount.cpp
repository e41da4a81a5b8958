#include "HeapCount.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

// The replacements below pair malloc with free themselves; GCC cannot see that.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

std::atomic<long> gAllocs{0};
std::atomic<long> gLiveBytes{0};

void* counted(std::size_t n) {
   void* p = std::malloc(n ? n : 1);
   if (!p) throw std::bad_alloc();
   gAllocs.fetch_add(1, std::memory_order_relaxed);
   gLiveBytes.fetch_add(static_cast<long>(::malloc_usable_size(p)), std::memory_order_relaxed);
   return p;
}

void uncounted(void* p) noexcept {
   if (!p) return;
   gLiveBytes.fetch_sub(static_cast<long>(::malloc_usable_size(p)), std::memory_order_relaxed);
   std::free(p);
}

}  // namespace

void* operator new(std::size_t n) {
   return counted(n);
}
void* operator new[](std::size_t n) {
   return counted(n);
}
void operator delete(void* p) noexcept {
   uncounted(p);
}
void operator delete[](void* p) noexcept {
   uncounted(p);
}
void operator delete(void* p, std::size_t) noexcept {
   uncounted(p);
}
void operator delete[](void* p, std::size_t) noexcept {
   uncounted(p);
}

namespace bench {

long heapAllocs() {
   return gAllocs.load(std::memory_order_relaxed);
}

long heapLiveBytes() {
   return gLiveBytes.load(std::memory_order_relaxed);
}

}  // namespace bench
