#pragma once
// A hash map keyed by object identity: two keys are equal exactly when they point to the same
// object, and the hash is taken from the pointer. The map holds one count on every key object
// while the key is in it. Open addressing keeps lookups and updates free of allocation once the
// table has grown to its working size. A removal shifts the keys after it back instead of
// leaving a tombstone, so a map that keys come and go from never rehashes and its probes stay
// short; removing keys while iterating may therefore skip some.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "Pemra/Ptr.h"
#include "Zin/Alloc.h"
#include "Zin/Exception.h"

namespace Zin {

namespace detail {
// A new odd multiplier for each map, from a mix of a process-wide count: maps made in the same
// order get the same ones, so a run repeats.
std::uint64_t identityMapMultiplier();
}  // namespace detail

template <class T, class V>
class IdentityMap {
 public:
   using Key = Pemra::Ptr<T const>;

   IdentityMap() = default;
   IdentityMap(IdentityMap const&) = delete;
   IdentityMap& operator=(IdentityMap const&) = delete;

   std::size_t size() const { return size_; }
   bool empty() const { return size_ == 0; }
   // Slots in the table. Keys fill at most five eighths of it, which keeps the probe for an
   // absent key short; the table doubles when they would fill more.
   std::size_t capacity() const { return capacity_; }
   // Bytes of the table's slots.
   std::size_t bytes() const { return capacity_ * sizeof(Slot); }

   // The value stored for `key`, or null when `key` is not in the map. The null pointer is a
   // key like any other (it stands for "no object"); its pair lives beside the table.
   V const* find(T const* key) const {
      if (!key) return hasNull_ ? &nullValue_ : nullptr;
      if (capacity_ == 0) return nullptr;
      std::size_t i = probe(key);
      return slots_[i].key ? &slots_[i].value : nullptr;
   }
   bool contains(T const* key) const { return find(key) != nullptr; }
   // Starts fetching the slot where `key` is looked for, so that a caller about to use several
   // maps for one new object has their cache misses overlap instead of follow each other.
   void prefetch(T const* key) const {
      if (key && capacity_ != 0) __builtin_prefetch(&slots_[home(key)]);
   }

   // Adds the pair, taking a count on `key`, or replaces the value of a key already present.
   void insertOrAssign(Key const& key, V value) {
      // `key` may refer into this map's own slots (an iterator's key), which growing moves.
      T const* k = key.ptr();
      if (!k) {
         if (!hasNull_) ++size_;
         hasNull_ = true;
         nullValue_ = std::move(value);
         return;
      }
      // One probe finds the key or the slot it goes to; only a growth probes again.
      std::size_t i = capacity_ != 0 ? probe(k) : 0;
      if (capacity_ != 0 && slots_[i].key) {
         slots_[i].value = std::move(value);
         return;
      }
      if (size_ >= growAt_) {
         rehash(capacity_ == 0 ? 16 : capacity_ * 2);
         i = probe(k);
      }
      fill(i, k, std::move(value));
   }

   // Removes the pair and drops the count on its key; false when `key` was not present.
   bool erase(T const* key) {
      if (!key) {
         if (!hasNull_) return false;
         hasNull_ = false;
         nullValue_ = V();
         --size_;
         return true;
      }
      if (capacity_ == 0) return false;
      std::size_t i = probe(key);
      if (!slots_[i].key) return false;
      vacate(i);
      return true;
   }

   // Where `key` is, or where it would go, found by one probe; an operation that looks a key up
   // and then adds or removes it probes once instead of twice. A position serves insertAt and
   // eraseAt for its own key, and only while the map keeps its layout (no key added or removed
   // since); after that they probe afresh, so a stale position costs time, never correctness.
   class Position {
    public:
      // The key's value, or null when it is absent; valid while the layout stays.
      V const* value() const { return value_; }

    private:
      friend class IdentityMap;
      V const* value_ = nullptr;
      T const* key_ = nullptr;
      std::size_t slot_ = 0;
      std::uint64_t layout_ = ~std::uint64_t(0);
   };

   Position locate(T const* key) const {
      Position at;
      at.key_ = key;
      if (!key) {
         at.value_ = hasNull_ ? &nullValue_ : nullptr;
         return at;
      }
      if (capacity_ == 0) return at;
      at.slot_ = probe(key);
      at.layout_ = layout_;
      if (slots_[at.slot_].key) at.value_ = &slots_[at.slot_].value;
      return at;
   }

   // insertOrAssign for the key that `at` was located for.
   void insertAt(Position const& at, Key const& key, V value) {
      // A located null key never matches: its position keeps a layout the map never reaches.
      T const* k = key.ptr();
      if (at.key_ == k && at.layout_ == layout_ && size_ < growAt_) [[likely]] {
         if (slots_[at.slot_].key) {
            slots_[at.slot_].value = std::move(value);
         } else {
            fill(at.slot_, k, std::move(value));
         }
         return;
      }
      insertAfresh(key, std::move(value));
   }

   // erase for the key that `at` was located for.
   bool eraseAt(Position const& at, T const* key) {
      if (!key || at.key_ != key || at.layout_ != layout_) return erase(key);
      if (!slots_[at.slot_].key) return false;
      vacate(at.slot_);
      return true;
   }

   // Makes room for `n` keys at once, so a map whose size is known ahead (the records of a key
   // table) is built without growing step by step.
   void reserve(std::size_t n) {
      std::size_t want = 16;
      while (want * 5 < n * 8)
         want <<= 1;
      if (want > capacity_) rehash(want);
   }

   // Drops every key and gives the table's memory back.
   void release() {
      slots_.reset();
      capacity_ = 0;
      shift_ = 64;
      growAt_ = 0;
      size_ = 0;
      ++layout_;
      hasNull_ = false;
      nullValue_ = V();
   }

   void clear() {
      for (std::size_t i = 0; i < capacity_; ++i)
         slots_[i] = Slot();
      size_ = 0;
      ++layout_;
      hasNull_ = false;
      nullValue_ = V();
   }

   class Iterator {
    public:
      Iterator(IdentityMap const* m, std::size_t i) : m_(m), i_(i) { skip(); }
      Key const& key() const { return i_ == m_->capacity_ ? nullKey() : m_->slots_[i_].key; }
      V const& value() const { return i_ == m_->capacity_ ? m_->nullValue_ : m_->slots_[i_].value; }
      Iterator& operator++() {
         ++i_;
         skip();
         return *this;
      }
      Iterator const& operator*() const { return *this; }
      bool operator!=(Iterator const& o) const { return i_ != o.i_; }
      bool operator==(Iterator const& o) const { return i_ == o.i_; }

    private:
      void skip() {
         while (i_ < m_->capacity_ && !m_->slots_[i_].key)
            ++i_;
         // The null key's pair comes after the table's, at position capacity.
         if (i_ == m_->capacity_ && !m_->hasNull_) ++i_;
      }
      IdentityMap const* m_;
      std::size_t i_;
   };

   Iterator begin() const { return Iterator(this, 0); }
   Iterator end() const { return Iterator(this, capacity_ + 1); }
   // Iteration from `key` on (from its slot, in the map's order); end() when it is absent.
   Iterator iteratorAt(T const* key) const {
      if (!contains(key)) return end();
      return Iterator(this, key ? probe(key) : capacity_);
   }

 private:
   // A slot is empty exactly when its key is null: the null key's pair lives beside the table.
   struct Slot {
      Key key;
      V value{};
   };

   static Key const& nullKey() {
      static Key const null;
      return null;
   }

   // The home slot of `p`: the top bits of the pointer times the map's odd multiplier. Objects
   // made one after another lie at about equal address steps, and multiplying spreads such
   // keys over the table almost evenly, with fewer collisions than a random hash. Each map
   // draws a multiplier of its own: with one for all, a map filled in another's slot order
   // (objects freed by one map and made again for the next) would get its keys in ascending
   // home slots, one run that grows with every key.
   std::size_t home(T const* p) const {
      return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(p) * multiplier_) >>
                                      shift_);
   }

   // The rare way of insertAt (stale position, growth, null key), kept out of its callers.
   [[gnu::noinline]] void insertAfresh(Key const& key, V value) {
      insertOrAssign(key, std::move(value));
   }

   // Puts a new key into the empty slot `i` that ends its run.
   void fill(std::size_t i, T const* k, V value) {
      Slot& s = slots_[i];
      s.key = Key(k);
      s.value = std::move(value);
      ++size_;
      ++layout_;
   }

   // Empties slot `i`, dropping its key's count. Every key after the hole in its run that may
   // move into it does, so that no key sits behind an empty slot on its way from its home slot.
   void vacate(std::size_t i) {
      std::size_t const mask = capacity_ - 1;
      for (std::size_t j = (i + 1) & mask; slots_[j].key; j = (j + 1) & mask) {
         // j may fill the hole unless its home lies cyclically in (i, j].
         if (((j - home(slots_[j].key.ptr())) & mask) >= ((j - i) & mask)) {
            slots_[i].key = std::move(slots_[j].key);
            slots_[i].value = std::move(slots_[j].value);
            i = j;
         }
      }
      Slot& s = slots_[i];
      s.key = nullptr;
      s.value = V();
      --size_;
      ++layout_;
   }

   // Slot of `key` when present; otherwise the empty slot that ends its run, where an
   // insertion puts it.
   std::size_t probe(T const* key) const {
      std::size_t const mask = capacity_ - 1;
      std::size_t i = home(key);
      for (T const* k; (k = slots_[i].key.ptr()) != key && k;)
         i = (i + 1) & mask;
      return i;
   }

   void rehash(std::size_t newCap) {
      auto old = std::move(slots_);
      std::size_t oldCap = capacity_;
      slots_ = makeSlots(newCap);
      capacity_ = newCap;
      shift_ = 64 - static_cast<unsigned>(__builtin_ctzll(newCap));
      growAt_ = newCap / 8 * 5;
      size_ = hasNull_ ? 1 : 0;  // the null key lives beside the table and stays
      ++layout_;
      for (std::size_t i = 0; i < oldCap; ++i) {
         if (old[i].key) {
            Slot& s = slots_[probe(old[i].key.ptr())];
            s.key = std::move(old[i].key);
            s.value = std::move(old[i].value);
            ++size_;
         }
      }
   }

   // The slot array lives in table memory (Zin::tableAllocate): big maps are probed at random.
   struct SlotsFree {
      std::size_t n = 0;
      void operator()(Slot* p) const noexcept {
         std::destroy_n(p, n);
         tableFree(p, n * sizeof(Slot));
      }
   };
   using Slots = std::unique_ptr<Slot[], SlotsFree>;
   static Slots makeSlots(std::size_t n) {
      auto* p = static_cast<Slot*>(tableAllocate(n * sizeof(Slot)));
      std::uninitialized_value_construct_n(p, n);
      return Slots(p, SlotsFree{n});
   }

   Slots slots_;
   std::size_t capacity_ = 0;
   std::uint64_t multiplier_ = detail::identityMapMultiplier();
   unsigned shift_ = 64;     // 64 - log2(capacity_)
   std::size_t growAt_ = 0;  // the size at which the next key doubles the table: 5/8 full
   std::size_t size_ = 0;
   std::uint64_t layout_ = 0;  // changes whenever a key is added or removed
   bool hasNull_ = false;
   V nullValue_{};
};

}  // namespace Zin
