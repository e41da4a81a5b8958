#pragma once
// A hash map keyed by object identity: two keys are equal exactly when they point to the same
// object, and the hash is taken from the pointer. The map holds one count on every key object
// while the key is in it. Open addressing keeps lookups and updates free of allocation once the
// table has grown to its working size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "Pemra/Ptr.h"
#include "Zin/Exception.h"

namespace Zin {

template <class T, class V>
class IdentityMap {
 public:
   using Key = Pemra::Ptr<T const>;

   IdentityMap() = default;
   IdentityMap(IdentityMap const&) = delete;
   IdentityMap& operator=(IdentityMap const&) = delete;

   std::size_t size() const { return size_; }
   bool empty() const { return size_ == 0; }
   // Slots in the table. When it runs short of free slots it doubles if live keys fill a
   // quarter of it, and otherwise rehashes in place to drop tombstones.
   std::size_t capacity() const { return capacity_; }

   // The value stored for `key`, or null when `key` is not in the map. The null pointer is a
   // key like any other (it stands for "no object"); its pair lives beside the table.
   V const* find(T const* key) const {
      if (!key) return hasNull_ ? &nullValue_ : nullptr;
      if (capacity_ == 0) return nullptr;
      std::size_t i = probe(key);
      return slots_[i].state == full ? &slots_[i].value : nullptr;
   }
   bool contains(T const* key) const { return find(key) != nullptr; }
   // Starts fetching the slot where `key` is looked for, so that a caller about to use several
   // maps for one new object has their cache misses overlap instead of follow each other.
   void prefetch(T const* key) const {
      if (key && capacity_ != 0) __builtin_prefetch(&slots_[hashOf(key) & (capacity_ - 1)]);
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
      if (capacity_ != 0) {
         Slot& s = slots_[probe(k)];
         if (s.state == full) {
            s.value = std::move(value);
            return;
         }
      }
      if ((size_ + tombstones_ + 1) * 4 > capacity_ * 3) grow();
      Slot& s = slots_[probe(k)];
      if (s.state == tombstone) --tombstones_;
      s.key = Key(k);
      s.value = std::move(value);
      s.state = full;
      ++size_;
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
      Slot& s = slots_[i];
      if (s.state != full) return false;
      s.state = tombstone;
      s.key = nullptr;
      s.value = V();
      --size_;
      ++tombstones_;
      return true;
   }

   // Makes room for `n` keys at once, so a map whose size is known ahead (the records of a key
   // table) is built without growing step by step.
   void reserve(std::size_t n) {
      std::size_t want = 16;
      while (want * 3 < (n + 1) * 4)
         want <<= 1;
      if (want > capacity_) rehash(want);
   }

   void clear() {
      for (std::size_t i = 0; i < capacity_; ++i)
         slots_[i] = Slot();
      size_ = tombstones_ = 0;
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
         while (i_ < m_->capacity_ && m_->slots_[i_].state != full)
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
   enum State : std::uint8_t { empty_ = 0, full = 1, tombstone = 2 };
   struct Slot {
      Key key;
      V value{};
      State state = empty_;
   };

   static Key const& nullKey() {
      static Key const null;
      return null;
   }

   static std::size_t hashOf(T const* p) {
      auto h = reinterpret_cast<std::uintptr_t>(p);
      h ^= h >> 17;
      h *= 0x9E3779B97F4A7C15ull;
      return static_cast<std::size_t>(h ^ (h >> 29));
   }

   // Slot of `key` when present; otherwise the slot an insertion should use.
   std::size_t probe(T const* key) const {
      std::size_t mask = capacity_ - 1;
      std::size_t i = hashOf(key) & mask;
      std::size_t firstFree = capacity_;
      for (;;) {
         Slot const& s = slots_[i];
         if (s.state == empty_) return firstFree != capacity_ ? firstFree : i;
         if (s.state == tombstone) {
            if (firstFree == capacity_) firstFree = i;
         } else if (s.key.ptr() == key) {
            return i;
         }
         i = (i + 1) & mask;
      }
   }

   void grow() {
      rehash(capacity_ == 0 ? 16 : (size_ * 4 >= capacity_ ? capacity_ * 2 : capacity_));
   }

   void rehash(std::size_t newCap) {
      auto old = std::move(slots_);
      std::size_t oldCap = capacity_;
      slots_ = std::make_unique<Slot[]>(newCap);
      capacity_ = newCap;
      size_ = tombstones_ = 0;
      for (std::size_t i = 0; i < oldCap; ++i) {
         if (old[i].state == full) {
            Slot& s = slots_[probe(old[i].key.ptr())];
            s.key = std::move(old[i].key);
            s.value = std::move(old[i].value);
            s.state = full;
            ++size_;
         }
      }
   }

   std::unique_ptr<Slot[]> slots_;
   std::size_t capacity_ = 0;
   std::size_t size_ = 0;
   std::size_t tombstones_ = 0;
   bool hasNull_ = false;
   V nullValue_{};
};

}  // namespace Zin
