#pragma once
// The simulated twiceNatAddrOnly table of one chip: exact-match entries keyed by (pipe, VRF,
// destination, source), a default entry per pipe, and the entry scope. The state lives in one
// mapping (see ChipState.h), so a chip created in a file outlives the process that made it.
// Every operation is O(1) and allocates nothing; statuses are SDK status codes (Status.h).
// The chip serves one process at a time. An open repairs what a kill or damage to derived
// fields left behind (openNotes() says what), takes an entry whose slot is damaged out of
// service (quarantined()), and refuses only a file it cannot identify as this chip.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Stow/Mapping.h"
#include "Zin/Alloc.h"
#include "Zin/Types.h"
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

// readOnly maps the file privately: it works without write permission and never changes the
// file (the repairs of the open stay in memory); it is a view for reading while no other
// process changes the chip. Every change through such a chip throws ChipException.
enum class ChipAccess { readWrite, readOnly };

// What an open takes beyond what a kill leaves and the damage it quarantines.
enum class ChipRepair {
   usual,   // a start: a header whose magic number is damaged, or whose copies both fail their
            // check, and a file of another size than its header says are refused
   header,  // also those, when what is left of the header's two copies identifies the chip (a
            // file cut short or grown is brought back to its size; slots cut off read as free)
};

// An entry an open took out of service because its slot or default record failed its check
// word (or held what no store makes): that entry is lost, every other one serves.
struct QuarantinedEntry {
   // The slot's handle (when only its handle word is damaged, the one a byte away with which
   // the slot checks); for a default, its default handle.
   uint32_t handle = 0;
   uint32_t index = 0;  // the slot, or the default's index (a pipe; kMaxPipes: all pipes)
   bool isDefault = false;
   // The slot's handle is one the chip gave out, or the default is one of the current scope:
   // an entry was lost (else only unused bytes were damaged).
   bool inUse = true;
};

class Chip {
 public:
   // A new chip in the file `path` (mode 0600), replacing any file there at once. Throws
   // ChipException.
   static std::unique_ptr<Chip> create(std::string const& path, Profile const& profile);
   // The chip in `path`, as the processes before left it, with an operation a kill cut short
   // finished, derived state rebuilt and damaged entries quarantined. A writable open reserves
   // the file's space first. Throws ChipStateRefused for a file that is no chip, is damaged
   // beyond what `repair` takes or (writable) is owned by another user; ChipException when the
   // file cannot be opened, reserved or mapped.
   static std::unique_ptr<Chip> open(std::string const& path,
                                     ChipAccess access = ChipAccess::readWrite,
                                     ChipRepair repair = ChipRepair::usual);
   // Removes the chip file; mappings already open keep working. ChipStateRefused for a file of
   // another user (also when root asks), ChipException when it cannot be removed.
   static void destroy(std::string const& path);
   // A chip in process memory only.
   static std::unique_ptr<Chip> createPrivate(Profile const& profile);

   Chip(Chip const&) = delete;
   Chip& operator=(Chip const&) = delete;
   // Detaches the chip from every device it serves.
   ~Chip();

   Profile const& profile() const { return profile_; }
   std::string const& path() const { return path_; }  // empty for a private chip
   uint32_t capacity() const { return hdr_->fixed.capacity; }
   uint32_t pipes() const { return hdr_->fixed.pipes; }
   uint32_t count() const { return hdr_->count; }
   Scope scope() const {
      return hdr_->scope == kScopeSingleWord ? Scope::singlePipe : Scope::allPipes;
   }
   // Random and nonzero, chosen when the chip was created; binds other state to this chip.
   U64 identity() const { return hdr_->fixed.identity; }
   bool readOnly() const { return readOnly_; }
   // One line per repair the open did; empty when the state was whole.
   std::vector<std::string> const& openNotes() const { return notes_; }
   // The open met damage (a check word failed, or a value no store makes), as opposed to what
   // a kill leaves; its notes say what.
   bool damaged() const { return damaged_; }
   // The open took what only ChipRepair::header takes: every usual open refuses the file.
   bool needsRepair() const { return needsRepair_; }
   // The entries the open quarantined, slots first.
   std::vector<QuarantinedEntry> const& quarantined() const { return quarantined_; }

   // Entry scope: 0 all pipes, 1 single pipe. A change needs an empty table (no entries, every
   // default at onMiss), else kInUse. The changing operations throw on a read-only chip.
   Status scopeIs(uint32_t scope);
   // The entry pipe a target pipe id stands for under the current scope, or kInvalidArg.
   Status targetPipe(uint32_t pipeId, uint16_t* pipe) const;

   // The key's pipe must be one of the current scope (kAllPipes or a pipe), else kInvalidArg.
   Status entryAdd(Key const& key, ActionRec const& act, uint32_t* handle);
   // `pipe` (a target's entry pipe, or kAnyPipe) must hold the entry, else kNotFound.
   Status entryMod(uint32_t handle, ActionRec const& act, uint32_t pipe = kAnyPipe);
   Status entryDel(uint32_t handle, uint32_t pipe = kAnyPipe);
   // Ordinary and default entries; a default handle is found only in the current scope.
   Status entryGet(uint32_t handle, EntryView* out, uint32_t pipe = kAnyPipe) const;
   Status defaultSet(uint16_t pipe, ActionRec const& act, uint32_t* handle);
   Status defaultReset(uint16_t pipe);

   // Inspection.
   static bool isDefaultHandle(uint32_t handle) {
      return handle >= kDefaultHandleBase && handle <= kAllPipesDefaultHandle;
   }
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
      forEachEntrySlot([&](uint32_t, EntryView const& e) { f(e); });
   }
   // The same walk with the slot (below capacity()) each entry lies in, so that a caller can
   // mark entries in a bit per slot rather than a map of handles.
   template <class F>
   void forEachEntrySlot(F&& f) const {
      for (uint32_t s = 0, n = hdr_->highWater; s < n; ++s) {
         Slot const& sl = slots_[s];
         if (sl.handle) f(s, EntryView{sl.handle, sl.key, sl.act, false});
      }
   }
   // The slot of the entry with `handle`, kNoSlot when the chip has none (a default's handle
   // included).
   uint32_t entrySlot(uint32_t handle) const { return slotOf(handle, kAnyPipe); }

   // Test hook: gives the chip in `path` the flags of `profile` (VRF key field, runtimes) in
   // place, keeping its entries; capacity and pipes must stay. Throws ChipException.
   static void profileFlagsIs(std::string const& path, Profile const& profile);
   // Test hook: stores a raw action parameter (index as in ActionRec) of an entry, bypassing
   // the field widths, so that readers' truncation can be tested. Defined in the testing
   // library (twicenat::chip_testing), not in the product.
   Status rawParamIs(uint32_t handle, unsigned index, uint32_t value);

 private:
   Chip(Stow::Mapping map, std::string path, bool readOnly);
   void bind();
   static size_t defaultIndex(uint16_t pipe) { return pipe == kAllPipes ? kMaxPipes : pipe; }
   // Throws for a read-only chip.
   void writable() const;
   // Rewrites an action in place (a slot's or a default's) through the intent record.
   void actionRewrite(uint32_t op, uint32_t target, uint32_t handle, ActionRec const& act);
   void intentApply(Intent const& in);
   // At open (ChipRecovery.cpp): finishes an interrupted rewrite, checks every slot and default
   // in the walk that rebuilds what is derived, quarantines what failed. Throws
   // ChipStateRefused.
   void recover();
   void note(std::string const& what);
   void damage(std::string const& what);  // a note of damage
   uint32_t quarantine(std::vector<uint32_t> const& slots, std::vector<std::string> const& why,
                       std::vector<uint32_t> const& defaults, uint32_t nextHandle, uint32_t scope);

   // Index (ChipIndex.cpp). Bucket of `key` (found) or of the empty bucket it would go to;
   // `tag`, when given, receives the key's tag for keyMark.
   uint32_t keyBucket(Key const& key, bool* found, uint32_t* tag = nullptr) const;
   // A key bucket holds its slot + 1 in the low bits and the top bits of its key's hash (its
   // tag) above them: a probe passes the buckets of most other keys without reading their
   // slots, each a miss of its own in a big table. What a key's bucket holds for slot `s`:
   static uint32_t keyMark(uint32_t s, uint32_t tag) { return (s + 1) | tag; }
   static constexpr uint32_t kSlotPart = (1u << 25) - 1;  // slot + 1, up to kMaxCapacity
   uint32_t handleBucket(uint32_t handle, bool* found) const;
   uint32_t slotOf(uint32_t handle, uint32_t pipe) const;  // kNoSlot when absent
   void bucketErase(uint32_t* index, uint32_t bucket, bool byKey);
   // What the open's one walk over the slots found: the live entries that pass their check
   // (put into both indices), and the slots to quarantine with what is wrong with each.
   struct SlotWalk {
      uint32_t live = 0, top = 0, topHandle = 0;
      uint32_t allPipes = 0, pipes = 0;  // entries of each scope
      std::vector<uint32_t> bad;
      std::vector<std::string> why;
   };
   SlotWalk slotsWalked(Intent const* redo);
   // The free list of the slots below `top`, lowest first, and the header's count, free head
   // and high-water mark.
   void freeListRebuild(uint32_t top, uint32_t live);

   Stow::Mapping map_;
   std::string path_;
   bool readOnly_ = false;
   bool damaged_ = false;
   bool needsRepair_ = false;
   std::vector<std::string> notes_;
   std::vector<QuarantinedEntry> quarantined_;
   Profile profile_;
   Header* hdr_ = nullptr;
   Slot* slots_ = nullptr;
   // The key and handle indices, derived from the slots: in the process's own memory (each
   // open rebuilds them), probed at random, so not in the file's pages.
   std::vector<uint32_t, Zin::TableAllocator<uint32_t>> indices_;
   uint32_t* keyIndex_ = nullptr;
   uint32_t* handleIndex_ = nullptr;
   uint32_t mask_ = 0;
};

}  // namespace chip
