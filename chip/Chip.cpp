// Entry operations. Each store sequence keeps the slots, the truth of the state, whole after a
// kill at any point: an add fills a free slot and writes its handle last, a delete clears the
// handle first, an action rewrite goes through the intent record. Each of those stores is an
// ordered one of the mapping (Stow/Mapping.h). What follows the store that commits (indices,
// free list, count) is derived and rebuilt by the next open.
#include <algorithm>
#include <cstddef>

#include "chip/Chip.h"
#include "chip/ChipException.h"
#include "chip/ChipLayout.h"

namespace chip {

void validate(Profile const& p) {
   if (p.capacity == 0 || p.capacity > kMaxCapacity) {
      throw ChipException("chip capacity " + std::to_string(p.capacity) + " is not in 1.." +
                          std::to_string(kMaxCapacity));
   }
   if (p.pipes == 0 || p.pipes > kMaxPipes) {
      throw ChipException("chip pipes " + std::to_string(p.pipes) + " is not in 1.." +
                          std::to_string(kMaxPipes));
   }
   if (p.actionProfileTable && !p.bfrt) {
      throw ChipException("an action-profile table needs the BfRt runtime");
   }
}

void Chip::writable() const {
   if (readOnly_) throw ChipException("chip file '" + path_ + "' was opened read-only");
}

// A kill between the action and its check leaves a torn entry; the recorded intent makes the
// next open write both again, and the kill tests reach that point through the store between.
void Chip::intentApply(Intent const& in) {
   if (in.op == kIntentModify) {
      Slot& sl = slots_[in.target];
      map_.store(sl.act, in.act);
      map_.store(sl.check, layout::slotCheck(sl.handle, sl.key, in.act));
   } else {
      map_.store(hdr_->defaults[in.target], in.act);
      map_.store(hdr_->defaultChecks[in.target], layout::defaultCheck(in.target, in.act));
   }
}

// A chip in memory has no kill to survive and skips the intent record.
void Chip::actionRewrite(uint32_t op, uint32_t target, uint32_t handle, ActionRec const& act) {
   Intent in{op, target, handle, 0, {}, act};
   if (op == kIntentModify) in.key = slots_[target].key;
   if (!map_.durable()) return intentApply(in);
   in.check = layout::intentCheck(in);
   Intent& rec = hdr_->intent;
   constexpr size_t kAfterOp = offsetof(Intent, target);
   map_.storeBytes(reinterpret_cast<char*>(&rec) + kAfterOp,
                   reinterpret_cast<char const*>(&in) + kAfterOp, sizeof in - kAfterOp);
   map_.store(rec.op, in.op);  // from here an open finishes the rewrite
   intentApply(in);
   map_.store(rec.op, kIntentNone);
}

// Setting the scope the chip already has stores nothing, so a read-only chip takes it: the
// table's set-up at every start asks for it.
Status Chip::scopeIs(uint32_t scope) {
   if (scope > 1) return status::kInvalidArg;
   if (Scope(scope) == this->scope()) return status::kOk;
   writable();
   if (hdr_->count != 0) return status::kInUse;
   if (this->scope() == Scope::allPipes) {
      if (hdr_->defaults[kMaxPipes].action != Action::onMiss) return status::kInUse;
   } else {
      for (uint32_t p = 0; p < pipes(); ++p) {
         if (hdr_->defaults[p].action != Action::onMiss) return status::kInUse;
      }
   }
   map_.store(hdr_->scope, scope ? kScopeSingleWord : kScopeAllWord);
   return status::kOk;
}

Status Chip::targetPipe(uint32_t pipeId, uint16_t* pipe) const {
   if (scope() == Scope::allPipes) {
      if (pipeId != kAllPipes) return status::kInvalidArg;
      *pipe = kAllPipes;
   } else {
      if (pipeId >= pipes()) return status::kInvalidArg;
      *pipe = uint16_t(pipeId);
   }
   return status::kOk;
}

Status Chip::entryAdd(Key const& key, ActionRec const& act, uint32_t* handle) {
   writable();
   if (scope() == Scope::allPipes ? key.pipe != kAllPipes : key.pipe >= pipes()) {
      return status::kInvalidArg;
   }
   bool found = false;
   uint32_t tag = 0;
   uint32_t kb = keyBucket(key, &found, &tag);
   if (found) return status::kAlreadyExists;
   if (hdr_->count >= capacity()) return status::kNoSpace;
   uint32_t h = hdr_->nextHandle;
   if (h >= kDefaultHandleBase) return status::kNoSysResources;
   bool reuse = hdr_->freeHead != kNoSlot;
   uint32_t s = reuse ? hdr_->freeHead : hdr_->highWater;
   Slot& sl = slots_[s];
   uint32_t nextFree = sl.nextFree;
   // The handle is spent before any slot holds it, so that no kill hands it out twice.
   map_.store(hdr_->nextHandle, h + 1);
   map_.store(hdr_->nextHandleCopy, h + 1);
   // The slot's fields after its handle: a free slot whatever a kill leaves of them.
   Slot fill{0, layout::slotCheck(h, key, act), kNoSlot, key, act};
   constexpr size_t kAfterHandle = offsetof(Slot, check);
   map_.storeBytes(reinterpret_cast<char*>(&sl) + kAfterHandle,
                   reinterpret_cast<char const*>(&fill) + kAfterHandle, sizeof fill - kAfterHandle);
   map_.store(sl.handle, h);  // the entry exists from here
   map_.derivedStores();
   if (reuse) {
      hdr_->freeHead = nextFree;
   } else {
      ++hdr_->highWater;
   }
   keyIndex_[kb] = keyMark(s, tag);
   handleIndex_[handleBucket(h, &found)] = s + 1;
   ++hdr_->count;
   *handle = h;
   return status::kOk;
}

Status Chip::entryMod(uint32_t handle, ActionRec const& act, uint32_t pipe) {
   writable();
   uint32_t s = slotOf(handle, pipe);
   if (s == kNoSlot) return status::kNotFound;
   actionRewrite(kIntentModify, s, handle, act);
   return status::kOk;
}

Status Chip::entryDel(uint32_t handle, uint32_t pipe) {
   writable();
   uint32_t s = slotOf(handle, pipe);
   if (s == kNoSlot) return status::kNotFound;
   bool found = false;
   uint32_t hb = handleBucket(handle, &found);
   uint32_t kb = keyBucket(slots_[s].key, &found);
   map_.store(slots_[s].handle, 0u);  // the entry is gone from here
   map_.derivedStores();
   bucketErase(handleIndex_, hb, false);
   bucketErase(keyIndex_, kb, true);
   slots_[s].nextFree = hdr_->freeHead;
   hdr_->freeHead = s;
   --hdr_->count;
   return status::kOk;
}

Status Chip::entryGet(uint32_t handle, EntryView* out, uint32_t pipe) const {
   if (handle >= kDefaultHandleBase) {
      uint32_t i = handle - kDefaultHandleBase;
      if (i > kMaxPipes) return status::kNotFound;
      uint16_t p = i == kMaxPipes ? kAllPipes : uint16_t(i);
      bool inScope = scope() == Scope::allPipes ? p == kAllPipes : p < pipes();
      if (!inScope || (pipe != kAnyPipe && pipe != p)) return status::kNotFound;
      Key key;
      key.pipe = p;
      *out = EntryView{handle, key, hdr_->defaults[defaultIndex(p)], true};
      return status::kOk;
   }
   uint32_t s = slotOf(handle, pipe);
   if (s == kNoSlot) return status::kNotFound;
   *out = EntryView{handle, slots_[s].key, slots_[s].act, false};
   return status::kOk;
}

Status Chip::defaultSet(uint16_t pipe, ActionRec const& act, uint32_t* handle) {
   writable();
   if (pipe != kAllPipes && pipe >= pipes()) return status::kInvalidArg;
   actionRewrite(kIntentDefault, uint32_t(defaultIndex(pipe)), 0, act);
   *handle = defaultHandle(pipe);
   return status::kOk;
}

Status Chip::defaultReset(uint16_t pipe) {
   uint32_t h = 0;
   return defaultSet(pipe, ActionRec{}, &h);
}

uint32_t Chip::count(uint16_t pipe) const {
   uint32_t n = 0;
   forEachEntry([&](EntryView const& e) { n += e.key.pipe == pipe; });
   return n;
}

std::vector<EntryView> Chip::entries(uint16_t pipe) const {
   std::vector<EntryView> out;
   forEachEntry([&](EntryView const& e) {
      if (e.key.pipe == pipe) out.push_back(e);
   });
   std::sort(out.begin(), out.end(),
             [](EntryView const& a, EntryView const& b) { return a.handle < b.handle; });
   return out;
}

}  // namespace chip
