// The key and handle indices: open addressing with linear probing, at most half full. Both are
// derived from the slots; an open rebuilds them in its one walk over the slots.
#include <cstring>

#include "chip/Chip.h"
#include "chip/ChipException.h"
#include "chip/ChipLayout.h"

namespace chip {

using layout::handleHash;
using layout::keyHash;

// A probe visits every bucket at most once; the indices are never more than half full, so an
// empty bucket ends every probe long before.
uint32_t Chip::keyBucket(Key const& key, bool* found) const {
   uint32_t b = keyHash(key) & mask_;
   for (uint32_t n = 0; n <= mask_; ++n, b = (b + 1) & mask_) {
      uint32_t v = keyIndex_[b];
      if (v == 0 || slots_[v - 1].key == key) {
         *found = v != 0;
         return b;
      }
   }
   throw ChipException("chip key index has no empty bucket");
}

uint32_t Chip::handleBucket(uint32_t handle, bool* found) const {
   uint32_t b = handleHash(handle) & mask_;
   for (uint32_t n = 0; n <= mask_; ++n, b = (b + 1) & mask_) {
      uint32_t v = handleIndex_[b];
      if (v == 0 || slots_[v - 1].handle == handle) {
         *found = v != 0;
         return b;
      }
   }
   throw ChipException("chip handle index has no empty bucket");
}

uint32_t Chip::slotOf(uint32_t handle, uint32_t pipe) const {
   if (handle == 0) return kNoSlot;
   bool found = false;
   uint32_t b = handleBucket(handle, &found);
   if (!found) return kNoSlot;
   uint32_t s = handleIndex_[b] - 1;
   if (pipe != kAnyPipe && slots_[s].key.pipe != pipe) return kNoSlot;
   return s;
}

// Linear probing without tombstones: after emptying a bucket, pull back any later entry of
// the same run whose home bucket lies at or before the hole.
void Chip::bucketErase(uint32_t* index, uint32_t hole, bool byKey) {
   index[hole] = 0;
   for (uint32_t j = (hole + 1) & mask_; index[j] != 0; j = (j + 1) & mask_) {
      Slot const& sl = slots_[index[j] - 1];
      uint32_t home = (byKey ? keyHash(sl.key) : handleHash(sl.handle)) & mask_;
      bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (stays) continue;
      index[hole] = index[j];
      index[j] = 0;
      hole = j;
   }
}

Chip::Fault Chip::indexed(uint32_t s, uint32_t* other) {
   Slot const& sl = slots_[s];
   bool found = false;
   uint32_t kb = keyBucket(sl.key, &found);
   if (found) {
      *other = keyIndex_[kb] - 1;
      return Fault::key;
   }
   uint32_t hb = handleBucket(sl.handle, &found);
   if (found) {
      *other = handleIndex_[hb] - 1;
      return Fault::handle;
   }
   keyIndex_[kb] = s + 1;
   handleIndex_[hb] = s + 1;
   return Fault::none;
}

void Chip::freeListRebuild(uint32_t top, uint32_t live) {
   uint32_t head = kNoSlot;
   for (uint32_t s = top; s-- > 0;) {
      if (slots_[s].handle) continue;
      slots_[s].nextFree = head;
      head = s;
   }
   hdr_->count = live;
   hdr_->highWater = top;
   hdr_->freeHead = head;
}

}  // namespace chip
