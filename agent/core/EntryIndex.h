#pragma once
// The core's one index of its entries: contents (addresses and VRF) to the entry's key, by
// which the key manager holds the match-spec object the table knows the entry by. Open
// addressing with linear probing in one flat array of 16-byte slots, sized from the count it
// must hold (not rounded to a power of two) and never past the most entries the key table can
// record, so that neither a restart nor a load makes a heap allocation per entry or touches
// memory it will not use: fresh pages are what a big start or load pays most for.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "Zin/Alloc.h"
#include "agent/core/EntryValues.h"

namespace TwiceNatAgent {

class EntryIndex {
 public:
   struct Slot {
      MatchKey key;
      U32 entryKey = 0;  // 0: free (keys count from 1)
   };

   EntryIndex() { rehash(kMinSlots); }

   // Room for `n` entries without growing (for no more than the limit).
   void reserve(std::size_t n) {
      std::size_t const want = slotsFor(std::min(n, limit_));
      if (want <= slots_.size()) return;
      // An index in use grows at least as far as an insert would grow it, so that reserving a
      // little more at a time (a load's parts) rebuilds it no more often than inserts would.
      rehash(size_ ? std::max(want, grownSlots()) : want);
   }
   // The most entries the index will be asked to hold (the key table's capacity): growth stops
   // at room for them. More still fit; the index then grows past it as it must.
   void limitIs(std::size_t maxEntries) { limit_ = std::max<std::size_t>(maxEntries, 1); }
   std::size_t size() const { return size_; }
   // Bytes of the slots.
   std::size_t bytes() const { return slots_.capacity() * sizeof(Slot); }

   // Starts fetching the slot where `key` is found or inserted, for a caller that knows its
   // next keys ahead (a restart's walk), so that the misses of many keys overlap.
   void prefetch(MatchKey const& key) const { __builtin_prefetch(&slots_[home(key)]); }

   // The entry key of `key`; 0 when absent.
   U32 find(MatchKey const& key) const {
      for (std::size_t i = home(key);; i = next(i)) {
         Slot const& s = slots_[i];
         if (!s.entryKey) return 0;
         if (s.key == key) return s.entryKey;
      }
   }
   // Where `key` is, or would be inserted: for a caller that looks a key up, does other work
   // that leaves the index alone, and then inserts it.
   struct Position {
      std::size_t slot = 0;
      U32 entryKey = 0;  // of `key`; 0 when absent
   };
   Position locate(MatchKey const& key) const {
      for (std::size_t i = home(key);; i = next(i)) {
         Slot const& s = slots_[i];
         if (!s.entryKey || s.key == key) return {i, s.entryKey};
      }
   }
   // Inserts `key`, absent at `at`, with `entryKey` (not 0).
   void insertAt(Position const& at, MatchKey const& key, U32 entryKey) {
      if (full()) {
         insert(key, entryKey);
         return;
      }
      slots_[at.slot] = Slot{key, entryKey};
      ++size_;
   }
   // Inserts `key` unless it is held; false (and the index unchanged) when it is.
   bool insertNew(MatchKey const& key, U32 entryKey) {
      Position const at = locate(key);
      if (at.entryKey) return false;
      insertAt(at, key, entryKey);
      return true;
   }
   // Inserts or replaces the entry key of `key` (not 0).
   void insert(MatchKey const& key, U32 entryKey) {
      if (full()) grow();
      std::size_t i = home(key);
      for (; slots_[i].entryKey; i = next(i)) {
         if (slots_[i].key == key) {
            slots_[i].entryKey = entryKey;
            return;
         }
      }
      slots_[i] = Slot{key, entryKey};
      ++size_;
   }
   // Backward-shift deletion: no tombstones, so probes stay as short as the load allows.
   bool erase(MatchKey const& key) {
      std::size_t i = home(key);
      for (; slots_[i].entryKey; i = next(i)) {
         if (slots_[i].key == key) break;
      }
      if (!slots_[i].entryKey) return false;
      for (std::size_t j = next(i); slots_[j].entryKey; j = next(j)) {
         std::size_t const h = home(slots_[j].key);
         // Slot j may move to the hole at i when its home is not in (i, j] cyclically.
         if (distance(h, j) >= distance(i, j)) {
            slots_[i] = slots_[j];
            i = j;
         }
      }
      slots_[i] = Slot{};
      --size_;
      return true;
   }
   void clear() {
      for (Slot& s : slots_)
         s = Slot{};
      size_ = 0;
   }

   // Every entry once, in no particular order.
   template <class F>
   void forEach(F&& f) const {
      for (Slot const& s : slots_) {
         if (s.entryKey) f(s.key, s.entryKey);
      }
   }

 private:
   static constexpr std::size_t kMinSlots = 16;

   // Slots for `n` entries at a load of at most three quarters.
   static std::size_t slotsFor(std::size_t n) { return std::max(kMinSlots, n + n / 3 + 1); }
   bool full() const { return (size_ + 1) * 4 > slots_.size() * 3; }
   // Twice the room, or room up to the limit when that is less, and never less than one more.
   std::size_t grownSlots() const {
      std::size_t const room = slots_.size() * 3 / 4;
      std::size_t const want = std::max(std::min(room * 2, limit_), size_ + 1);
      return std::max(slotsFor(want), slots_.size() + 1);
   }
   void grow() { rehash(grownSlots()); }
   // The hash's high bits, scaled to the slot count (no power of two needed).
   std::size_t home(MatchKey const& key) const {
      return static_cast<std::size_t>(
          (static_cast<unsigned __int128>(MatchKeyHash{}(key)) * slots_.size()) >> 64);
   }
   std::size_t next(std::size_t i) const { return i + 1 == slots_.size() ? 0 : i + 1; }
   // Steps from `from` forward to `to`, wrapping at the end.
   std::size_t distance(std::size_t from, std::size_t to) const {
      return to >= from ? to - from : to + slots_.size() - from;
   }
   void rehash(std::size_t n) {
      Slots old(n);
      old.swap(slots_);
      size_ = 0;
      for (Slot const& s : old) {
         if (s.entryKey) insert(s.key, s.entryKey);
      }
   }

   friend class EntryIndexFiller;  // stages a walk's keys in the slots before they count

   using Slots = std::vector<Slot, Zin::TableAllocator<Slot>>;  // probed at random
   Slots slots_;
   std::size_t size_ = 0;
   std::size_t limit_ = std::size_t(-1);
};

}  // namespace TwiceNatAgent
