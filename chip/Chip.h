#pragma once
// The simulated twiceNatAddrOnly table of one chip: exact-match entries keyed by (pipe, VRF,
// destination, source), a default entry per pipe, and the entry scope. The state lives in one
// mapping (see ChipState.h), so a chip created in a file outlives the process that made it.
// Every operation is O(1) and allocates nothing; statuses are SDK status codes (Status.h).
// The chip serves one process at a time.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "chip/ChipState.h"
#include "chip/Profile.h"
#include "chip/Status.h"

namespace chip {

// One entry as inspection and reads see it. For a default entry the key is all zeros (with
// the pipe of the default) and `isDefault` is set.
struct EntryView {
   uint32_t handle = 0;
   Key key;
   ActionRec act;
   bool isDefault = false;
};

// Handle lookups that take no target accept an entry in any pipe.
constexpr uint32_t kAnyPipe = 0x10000;

class Chip {
 public:
   // A new chip in the file `path`, replacing any file there. Throws ChipException.
   static std::unique_ptr<Chip> create(std::string const& path, Profile const& profile);
   // The chip in `path`, as the process that created it left it. Throws ChipException for a
   // missing, short or corrupt file.
   static std::unique_ptr<Chip> open(std::string const& path);
   // Removes the chip file; mappings already open keep working.
   static void destroy(std::string const& path);
   // A chip in process memory only.
   static std::unique_ptr<Chip> createPrivate(Profile const& profile);

   Chip(Chip const&) = delete;
   Chip& operator=(Chip const&) = delete;
   // Detaches the chip from every device it serves.
   ~Chip();

   Profile const& profile() const { return profile_; }
   std::string const& path() const { return path_; }  // empty for a private chip
   uint32_t capacity() const { return hdr_->capacity; }
   uint32_t pipes() const { return hdr_->pipes; }
   uint32_t count() const { return hdr_->count; }
   Scope scope() const { return static_cast<Scope>(hdr_->scope); }

   // Entry scope: 0 all pipes, 1 single pipe. A change needs an empty table (no entries, every
   // default at onMiss), else kInUse.
   Status scopeIs(uint32_t scope);
   // The entry pipe a target pipe id stands for under the current scope, or kInvalidArg.
   Status targetPipe(uint32_t pipeId, uint16_t* pipe) const;

   Status entryAdd(Key const& key, ActionRec const& act, uint32_t* handle);
   // `pipe` (a target's entry pipe, or kAnyPipe) must hold the entry, else kNotFound.
   Status entryMod(uint32_t handle, ActionRec const& act, uint32_t pipe = kAnyPipe);
   Status entryDel(uint32_t handle, uint32_t pipe = kAnyPipe);
   // Ordinary and default entries; a default handle is found only in the current scope.
   Status entryGet(uint32_t handle, EntryView* out, uint32_t pipe = kAnyPipe) const;
   Status defaultSet(uint16_t pipe, ActionRec const& act, uint32_t* handle);
   Status defaultReset(uint16_t pipe);

   // Inspection.
   static uint32_t defaultHandle(uint16_t pipe) {
      return pipe == kAllPipes ? kAllPipesDefaultHandle : kDefaultHandleBase + pipe;
   }
   ActionRec const& defaultAction(uint16_t pipe) const {
      return hdr_->defaults[defaultIndex(pipe)];
   }
   uint32_t count(uint16_t pipe) const;
   // Entries of `pipe` (kAllPipes in all-pipes scope), by handle.
   std::vector<EntryView> entries(uint16_t pipe) const;
   template <class F>
   void forEachEntry(F&& f) const {
      for (uint32_t s = 0; s < hdr_->highWater; ++s) {
         Slot const& sl = slots_[s];
         if (sl.handle) f(EntryView{sl.handle, sl.key, sl.act, false});
      }
   }

   // Test hook: stores a raw action parameter (index as in ActionRec) of an entry, bypassing
   // the field widths, so that readers' truncation can be tested. Defined in the testing
   // library (twicenat::chip_testing), not in the product.
   Status rawParamIs(uint32_t handle, unsigned index, uint32_t value);

 private:
   struct Mapping;
   Chip(std::unique_ptr<Mapping> map, std::string path);
   void bind();
   static size_t defaultIndex(uint16_t pipe) { return pipe == kAllPipes ? kMaxPipes : pipe; }

   // Bucket of `key` (found) or of the empty bucket it would go to.
   uint32_t keyBucket(Key const& key, bool* found) const;
   uint32_t handleBucket(uint32_t handle, bool* found) const;
   uint32_t slotOf(uint32_t handle, uint32_t pipe) const;  // kNoSlot when absent
   void bucketErase(uint32_t* index, uint32_t bucket, bool byKey);

   std::unique_ptr<Mapping> map_;
   std::string path_;
   Profile profile_;
   Header* hdr_ = nullptr;
   Slot* slots_ = nullptr;
   uint32_t* keyIndex_ = nullptr;
   uint32_t* handleIndex_ = nullptr;
   uint32_t mask_ = 0;
};

}  // namespace chip
