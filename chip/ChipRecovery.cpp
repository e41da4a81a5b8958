// What an open does to the state a kill or damage left: the slots and defaults must pass their
// check words (else the state is refused: an entry would be lost), an interrupted action
// rewrite is finished from the intent record, and the derived header fields and structures are
// recomputed, with one note for each stored value that was wrong.
#include <algorithm>

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

}  // namespace

void Chip::note(std::string const& what) {
   notes_.push_back("chip file '" + path_ + "': " + what);
}

void Chip::recover() {
   Header& h = *hdr_;
   auto refuse = [&](std::string const& what) {
      throw ChipStateRefused("chip file '" + path_ + "' " + what);
   };
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
      if (!redo) {
         note("dropped a damaged intent record");
      } else if (in.op == kIntentModify) {
         note("finished an interrupted rewrite of entry " + hex(in.handle));
      } else {
         note("finished an interrupted rewrite of default entry " + std::to_string(in.target));
      }
   }
   bool const redoSlot = redo && in.op == kIntentModify;
   bool const redoDefault = redo && in.op == kIntentDefault;

   uint32_t allPipesEvidence = 0;
   uint32_t pipeEvidence = 0;
   uint32_t topHandle = 0;
   for (uint32_t s = 0, n = capacity(); s < n; ++s) {
      Slot const& sl = slots_[s];
      if (!sl.handle) continue;
      ActionRec const& act = redoSlot && s == in.target ? in.act : sl.act;
      bool sound = redoSlot && s == in.target
                       ? sl.key == in.key
                       : layout::slotCheck(sl.handle, sl.key, sl.act) == sl.check;
      if (!sound) refuse("has a damaged entry in slot " + std::to_string(s));
      if (sl.handle < kFirstHandle || sl.handle >= kDefaultHandleBase || uint8_t(act.action) > 2) {
         refuse("has an invalid entry in slot " + std::to_string(s));
      }
      if (sl.key.pipe == kAllPipes) {
         ++allPipesEvidence;
      } else if (sl.key.pipe < pipes()) {
         ++pipeEvidence;
      } else {
         refuse("has an entry of pipe " + std::to_string(sl.key.pipe) + " in slot " +
                std::to_string(s));
      }
      topHandle = std::max(topHandle, sl.handle);
   }
   for (uint32_t i = 0; i <= kMaxPipes; ++i) {
      bool target = redoDefault && i == in.target;
      ActionRec const& act = target ? in.act : h.defaults[i];
      if (!target && layout::defaultCheck(i, act) != h.defaultChecks[i]) {
         refuse("has a damaged default entry " + std::to_string(i));
      }
      if (uint8_t(act.action) > 2 ||
          (act.action != Action::onMiss && i >= pipes() && i < kMaxPipes)) {
         refuse("has an invalid default entry " + std::to_string(i));
      }
      if (act.action != Action::onMiss) ++(i == kMaxPipes ? allPipesEvidence : pipeEvidence);
   }

   // The scope: what the entries and defaults show, else the stored word.
   if (allPipesEvidence && pipeEvidence) refuse("has entries of both scopes");
   bool const scopeValid = h.scope == kScopeAllWord || h.scope == kScopeSingleWord;
   uint32_t scope = allPipesEvidence ? kScopeAllWord
                    : pipeEvidence   ? kScopeSingleWord
                    : scopeValid     ? h.scope
                                     : 0;
   if (scope == 0) refuse("has a damaged scope word and no entry that shows the scope");
   if (scope != h.scope) {
      note(std::string("scope word repaired to ") +
           (scope == kScopeAllWord ? "all pipes" : "single pipe") + " from the entries");
   }

   // The next handle: the smaller of its two copies, and above every handle held.
   uint32_t a = h.nextHandle;
   uint32_t b = h.nextHandleCopy;
   uint32_t next = handleValid(a) && handleValid(b) ? std::min(a, b)
                   : handleValid(a)                 ? a
                   : handleValid(b)                 ? b
                                                    : kFirstHandle;
   next = std::max(next, topHandle + 1);
   if (a != next || b != next) {
      note("next handle " + hex(a) + "/" + hex(b) + " recomputed as " + hex(next));
   }

   uint32_t const storedCount = h.count;
   uint32_t const storedHighWater = h.highWater;
   storing();
   std::string problem = derivedRebuild();
   if (!problem.empty()) refuse(problem);
   if (storedCount != h.count) {
      note("entry count " + std::to_string(storedCount) + " recomputed as " +
           std::to_string(h.count));
   }
   if (storedHighWater < h.highWater || storedHighWater > capacity()) {
      note("high-water mark " + std::to_string(storedHighWater) + " recomputed as " +
           std::to_string(h.highWater));
   }
   h.scope = scope;
   h.nextHandle = h.nextHandleCopy = next;
   if (redo) {
      storing();
      intentApply(in);
   }
   if (pending) {
      storing();
      h.intent.op = kIntentNone;
   }
}

}  // namespace chip
