// What an open does to the state a kill or damage left. An interrupted action rewrite is
// finished from the intent record. One walk over the slots checks each live one against its
// check word and rebuilds the indices from those that pass. An entry whose slot fails (or holds
// what no store makes: a handle out of range, an action or pipe that does not exist, the key or
// handle of an entry met before it) is quarantined: its slot is cleared and the open names it,
// while every other entry serves. A default record that fails is reset. The derived header
// fields are recomputed, with one note for each stored value that was wrong.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "chip/Chip.h"
#include "chip/ChipException.h"
#include "chip/ChipLayout.h"

namespace chip {

namespace {

std::string hex(uint32_t v) {
   char buf[16];
   std::snprintf(buf, sizeof buf, "%#x", v);
   return buf;
}

bool handleValid(uint32_t h) {
   return h >= kFirstHandle && h <= kDefaultHandleBase;
}

// Quarantined slots named one by one in the notes; the rest are counted.
constexpr size_t kNamedSlots = 8;

// The handle a slot that fails its check held: when one byte of its handle word changed makes
// the slot check and names a handle given out that no live entry holds, that one (the damage
// is then in the handle word, most likely by far: elsewhere it is matched so only by chance,
// and in the top byte of another word only by a handle out of range); else the stored word.
template <class Held>
uint32_t handleHeld(Slot const& sl, uint32_t next, Held&& held) {
   for (unsigned b = 0; b < 32; b += 8) {
      for (uint32_t v = 0; v < 256; ++v) {
         uint32_t const h = (sl.handle & ~(0xffu << b)) | v << b;
         if (h == sl.handle || h < kFirstHandle || h >= next) continue;
         if (layout::slotCheck(h, sl.key, sl.act) == sl.check && !held(h)) return h;
      }
   }
   return sl.handle;
}

}  // namespace

void Chip::note(std::string const& what) {
   notes_.push_back("chip file '" + path_ + "': " + what);
}

void Chip::damage(std::string const& what) {
   damaged_ = true;
   note(what);
}

void Chip::recover() {
   Header& h = *hdr_;
   // An intent record is sound only as a whole: its op word is stored after the rest.
   Intent const in = h.intent;
   bool const pending = in.op != kIntentNone;
   bool redo = false;
   if (pending) {
      bool known = in.op == kIntentModify || in.op == kIntentDefault;
      redo = known && layout::intentCheck(in) == in.check &&
             (in.op == kIntentModify ? in.target < capacity() && in.handle != 0 &&
                                           slots_[in.target].handle == in.handle
                                     : in.target <= kMaxPipes);
      if (!redo) damage("dropped a damaged intent record");
   }
   bool const redoSlot = redo && in.op == kIntentModify;
   bool const redoDefault = redo && in.op == kIntentDefault;

   // The walk: check words, and the indices rebuilt from the slots that pass.
   map_.derivedStores();
   SlotWalk const w = slotsWalked(redoSlot ? &in : nullptr);
   uint32_t allPipesEvidence = w.allPipes, pipeEvidence = w.pipes;
   std::vector<uint32_t> badDefaults;
   for (uint32_t i = 0; i <= kMaxPipes; ++i) {
      bool const target = redoDefault && i == in.target;
      ActionRec const& act = target ? in.act : h.defaults[i];
      bool const checks = target || layout::defaultCheck(i, act) == h.defaultChecks[i];
      // A pipe the chip does not have keeps its default at onMiss.
      bool const valid = uint8_t(act.action) <= 2 &&
                         (act.action == Action::onMiss || i < pipes() || i == kMaxPipes);
      if (!checks || !valid) {
         badDefaults.push_back(i);
         continue;
      }
      if (act.action != Action::onMiss) ++(i == kMaxPipes ? allPipesEvidence : pipeEvidence);
   }

   // The scope: what the entries and defaults show, else the stored word; an empty table with
   // every default at onMiss may take either, so a damaged word there costs nothing.
   if (allPipesEvidence && pipeEvidence) {
      throw ChipStateRefused("chip file '" + path_ + "' has entries of both scopes");
   }
   bool const scopeValid = h.scope == kScopeAllWord || h.scope == kScopeSingleWord;
   uint32_t const scope = allPipesEvidence ? kScopeAllWord
                          : pipeEvidence   ? kScopeSingleWord
                          : scopeValid     ? h.scope
                                           : kScopeAllWord;
   if (scope != h.scope) {
      damage(std::string("scope word repaired to ") +
             (scope == kScopeAllWord ? "all pipes" : "single pipe") +
             (allPipesEvidence + pipeEvidence ? " from the entries" : " (the table is empty)"));
   }

   // The next handle: the smaller of its two copies, and above every handle held. A kill
   // between the two stores of an add leaves them one apart; anything else is damage.
   uint32_t const a = h.nextHandle;
   uint32_t const b = h.nextHandleCopy;
   uint32_t next = handleValid(a) && handleValid(b) ? std::min(a, b)
                   : handleValid(a)                 ? a
                   : handleValid(b)                 ? b
                                                    : kFirstHandle;
   next = std::max(next, w.topHandle + 1);
   if (a != next || b != next) {
      std::string what = "next handle " + hex(a) + "/" + hex(b) + " recomputed as " + hex(next);
      bool const killed = std::min(a, b) == next && std::max(a, b) == next + 1;
      killed ? note(what) : damage(what);
   }

   uint32_t const lost = quarantine(w.bad, w.why, badDefaults, next, scope);
   uint32_t const storedCount = h.count;
   uint32_t const storedHighWater = h.highWater;
   freeListRebuild(w.top, w.live);
   if (storedCount != h.count + lost) {
      note("entry count " + std::to_string(storedCount) + " recomputed as " +
           std::to_string(h.count));
   }
   if (storedHighWater < h.highWater || storedHighWater > capacity()) {
      note("high-water mark " + std::to_string(storedHighWater) + " recomputed as " +
           std::to_string(h.highWater));
   }
   if (scope != h.scope) map_.store(h.scope, scope);
   if (a != next) map_.store(h.nextHandle, next);
   if (b != next) map_.store(h.nextHandleCopy, next);
   // A rewrite of an entry quarantined since is not finished: the entry is gone.
   if (redoSlot && slots_[in.target].handle != in.handle) redo = false;
   if (redo) {
      intentApply(in);
      note(in.op == kIntentModify
               ? "finished an interrupted rewrite of entry " + hex(in.handle)
               : "finished an interrupted rewrite of default entry " + std::to_string(in.target));
   }
   if (pending) map_.store(h.intent.op, kIntentNone);
}

// Clears the slots and resets the defaults that failed, and names them; returns the entries
// lost. A kill among these stores leaves the rest to the next open, which quarantines them
// again.
uint32_t Chip::quarantine(std::vector<uint32_t> const& slots, std::vector<std::string> const& why,
                          std::vector<uint32_t> const& defaults, uint32_t next, uint32_t scope) {
   uint32_t lost = 0;
   for (size_t i = 0; i < slots.size(); ++i) {
      uint32_t const s = slots[i];
      uint32_t const handle = handleHeld(slots_[s], next, [&](uint32_t h) {
         bool found = false;
         handleBucket(h, &found);
         return found;
      });
      bool const inUse = handle >= kFirstHandle && handle < next;
      quarantined_.push_back(QuarantinedEntry{handle, s, false, inUse});
      lost += inUse;
      map_.store(slots_[s].handle, 0u);
      if (i >= kNamedSlots) continue;
      damage(inUse ? "entry " + hex(handle) + " in slot " + std::to_string(s) + " " + why[i] +
                         ": quarantined (the entry is lost)"
                   : "slot " + std::to_string(s) + " " + why[i] + ", its handle word " +
                         hex(handle) + " names no entry given out: cleared");
   }
   if (slots.size() > kNamedSlots) {
      damage("and " + std::to_string(slots.size() - kNamedSlots) +
             " more damaged slots quarantined (" + std::to_string(lost) + " entries lost in all)");
   }
   for (uint32_t i : defaults) {
      bool const inUse = scope == kScopeAllWord ? i == kMaxPipes : i < pipes();
      uint32_t const handle = kDefaultHandleBase + i;
      quarantined_.push_back(QuarantinedEntry{handle, i, true, inUse});
      ActionRec const reset{};
      map_.store(hdr_->defaults[i], reset);
      map_.store(hdr_->defaultChecks[i], layout::defaultCheck(i, reset));
      std::string const name = i == kMaxPipes ? "all pipes" : "pipe " + std::to_string(i);
      damage(inUse ? "default entry of " + name + " (" + hex(handle) +
                         ") fails its check: reset to onMiss (its action is lost)"
                   : "unused default entry of " + name + " (" + hex(handle) +
                         ") fails its check: reset");
   }
   return lost;
}

}  // namespace chip
