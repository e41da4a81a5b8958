// The key and handle indices: open addressing with linear probing, at most half full. Both are
// derived from the slots and kept in the process's memory; an open rebuilds them in its one walk
// over the slots.
#include <algorithm>
#include <cstring>

#include "chip/Chip.h"
#include "chip/ChipException.h"
#include "chip/ChipLayout.h"

namespace chip {

using layout::handleHash;
using layout::keyHash;

// A probe visits every bucket at most once; the indices are never more than half full, so an
// empty bucket ends every probe long before.
uint32_t Chip::keyBucket(Key const& key, bool* found, uint32_t* tagOut) const {
   static_assert(kMaxCapacity <= kSlotPart, "a key bucket's slot part holds every slot + 1");
   uint32_t const hash = keyHash(key);
   uint32_t const tag = hash & ~kSlotPart;  // bits that no bucket number uses (mask_ < 2^25)
   if (tagOut) *tagOut = tag;
   uint32_t b = hash & mask_;
   for (uint32_t n = 0; n <= mask_; ++n, b = (b + 1) & mask_) {
      uint32_t v = keyIndex_[b];
      if (v == 0 || ((v & ~kSlotPart) == tag && slots_[(v & kSlotPart) - 1].key == key)) {
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
      Slot const& sl = slots_[(index[j] & kSlotPart) - 1];
      uint32_t home = (byKey ? keyHash(sl.key) : handleHash(sl.handle)) & mask_;
      bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (stays) continue;
      index[hole] = index[j];
      index[j] = 0;
      hole = j;
   }
}

namespace {

// What an open finds wrong with a live slot.
std::string faultText(bool checks, uint32_t keyClash, uint32_t handleClash) {
   if (!checks) return "fails its check";
   if (keyClash != kNoSlot) return "holds the key of slot " + std::to_string(keyClash);
   if (handleClash != kNoSlot) return "holds the handle of slot " + std::to_string(handleClash);
   return "holds no valid entry";
}

}  // namespace

// One pass: each live slot checked, and put into both indices when it passes. `redo`, when
// set, is an action rewrite the open finishes: its slot's action and check word may be torn,
// so its key is checked against the record instead.
Chip::SlotWalk Chip::slotsWalked(Intent const* redo) {
   SlotWalk w;
   std::memset(keyIndex_, 0, size_t(mask_ + 1) * sizeof(uint32_t));
   std::memset(handleIndex_, 0, size_t(mask_ + 1) * sizeof(uint32_t));
   constexpr uint32_t kAhead = 16;  // buckets are fetched this many slots early
   for (uint32_t s = 0, n = capacity(); s < n; ++s) {
      if (s + kAhead < n && slots_[s + kAhead].handle) {
         Slot const& next = slots_[s + kAhead];
         __builtin_prefetch(&keyIndex_[keyHash(next.key) & mask_], 1);
         __builtin_prefetch(&handleIndex_[handleHash(next.handle) & mask_], 1);
      }
      Slot const& sl = slots_[s];
      if (!sl.handle) continue;
      bool const target = redo && s == redo->target;
      ActionRec const& act = target ? redo->act : sl.act;
      bool const checks =
          target ? sl.key == redo->key : layout::slotCheck(sl.handle, sl.key, sl.act) == sl.check;
      bool const valid = sl.handle >= kFirstHandle && sl.handle < kDefaultHandleBase &&
                         uint8_t(act.action) <= 2 &&
                         (sl.key.pipe == kAllPipes || sl.key.pipe < pipes());
      uint32_t keyClash = kNoSlot, handleClash = kNoSlot, kb = 0, hb = 0, tag = 0;
      if (checks && valid) {
         bool found = false;
         kb = keyBucket(sl.key, &found, &tag);
         if (found) {
            keyClash = (keyIndex_[kb] & kSlotPart) - 1;
         } else {
            hb = handleBucket(sl.handle, &found);
            if (found) handleClash = handleIndex_[hb] - 1;
         }
      }
      if (!checks || !valid || keyClash != kNoSlot || handleClash != kNoSlot) {
         w.bad.push_back(s);
         w.why.push_back(faultText(checks, keyClash, handleClash));
         continue;
      }
      keyIndex_[kb] = keyMark(s, tag);
      handleIndex_[hb] = s + 1;
      ++(sl.key.pipe == kAllPipes ? w.allPipes : w.pipes);
      w.topHandle = std::max(w.topHandle, sl.handle);
      ++w.live;
      w.top = s + 1;
   }
   return w;
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
