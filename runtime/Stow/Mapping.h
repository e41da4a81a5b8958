#pragma once
// A state file's bytes in memory, and the one way the state is stored into them.
//
// Every store that a kill must not reorder goes through store(): a crash point, then the store,
// kept in program order with every store before and after it (a kill -9 stops the process
// between two instructions; what it stored so far is in the page cache and reaches the file).
// The order is what makes a state file recoverable: each writer arranges its stores so that a
// kill between any two leaves a state its next open finishes or undoes. Stores to what an open
// recomputes (indices, counts) need no order; derivedStores() marks where a run of them starts.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>

#include "Stow/CrashPoint.h"
#include "Stow/File.h"

namespace Stow {

class Mapping {
 public:
   enum class Kind {
      shared,       // the file itself: stores reach it, and each is a crash point
      privateCopy,  // a copy-on-write view: stores stay in this process (a read-only open's
                    // repairs)
   };
   // The first `bytes` of `file`; a shared mapping of a writable file needs its space reserved
   // first (File::reserve). IoError.
   Mapping(File const& file, std::size_t bytes, Kind kind);
   // Zeroed memory of this process only.
   explicit Mapping(std::size_t bytes);
   Mapping() = default;
   ~Mapping();
   Mapping(Mapping&& other) noexcept;
   Mapping& operator=(Mapping&& other) noexcept;
   Mapping(Mapping const&) = delete;
   Mapping& operator=(Mapping const&) = delete;

   char* base() const { return base_; }
   std::size_t size() const { return size_; }
   // Stores reach a file, and crash points count them.
   bool durable() const { return durable_; }

   // The ordered store: a crash point, then `value` into `at`, after every store before it in
   // program order and before every store after it. A store of 4 or 8 bytes is one machine
   // store, never torn.
   template <class T>
   void store(T& at, T const& value) const {
      static_assert(std::is_trivially_copyable_v<T>);
      std::atomic_signal_fence(std::memory_order_seq_cst);
      if (durable_) crashPoint();
      if constexpr (sizeof(T) == 4 || sizeof(T) == 8) {
         using Word = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
         static_assert(alignof(T) >= alignof(uint32_t));
         Word w;
         std::memcpy(&w, &value, sizeof w);
         __atomic_store_n(reinterpret_cast<Word*>(&at), w, __ATOMIC_RELAXED);
      } else {
         std::memcpy(&at, &value, sizeof(T));
      }
      std::atomic_signal_fence(std::memory_order_seq_cst);
   }
   // The same for `bytes` bytes from `from` (a record's fields after its first).
   void storeBytes(void* at, void const* from, std::size_t bytes) const {
      std::atomic_signal_fence(std::memory_order_seq_cst);
      if (durable_) crashPoint();
      std::memcpy(at, from, bytes);
      std::atomic_signal_fence(std::memory_order_seq_cst);
   }
   // A crash point before a run of plain stores to what an open recomputes.
   void derivedStores() const {
      std::atomic_signal_fence(std::memory_order_seq_cst);
      if (durable_) crashPoint();
   }

 private:
   char* base_ = nullptr;
   std::size_t size_ = 0;
   bool durable_ = false;
};

// A new state file at `path` of `bytes` bytes, reserved on its file system, mapped shared, its
// first contents stored by `init`: made aside (`path.new`) and renamed into place after, so
// that a kill or a failure leaves no half-made file at `path`. `replace` takes the place of a
// file there; else a file there is an error (EEXIST) and stays. IoError, with nothing left.
Mapping createFile(std::string const& path, std::size_t bytes, bool replace,
                   std::function<void(char* base)> const& init);

}  // namespace Stow
