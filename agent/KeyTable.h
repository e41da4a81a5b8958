#pragma once
// The shared-memory key table: a file mapped shared into every process that opens it, with a
// header and one fixed-size slot per key (key = slot + 1). A slot is either all zero (free) or
// holds a record whose checksum covers its fields and its slot index; anything else is damage.
// One process writes at a time (the agent); others may read.
//
// Crash safety: every store to the mapping is an ordered store of the store core (Stow/Mapping.h,
// a crash point each), ordered so that a kill between any two of them leaves a file that the
// next open accepts:
// - a new record gets its checksum last, so a half-written one fails its check and is cleared;
// - a handle change first parks the old handle in the record's undo word, so a record caught
//   between its handle and its checksum is rolled back to the old handle;
// - the header's count, highest key and generation are recomputed from the records at open.
// A table is made aside and renamed into place, its space reserved, so that a kill leaves no
// half-made table and a full file system refuses at creation, never under a store.
// Open walks every slot once; it clears a damaged record (its chip entry is then adopted again
// by the agent's start), repairs what the records determine (with one note each) and refuses
// only what loses the table's identity: a wrong magic, wrong sizes, another version, a file
// size that does not match the header, and, for writing, a file owned by another user.
#include <memory>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/platform/Drosk.h"
#include "Pemra/String.h"
#include "Stow/Mapping.h"
#include "Zin/Exception.h"

namespace TwiceNatAgent {

// A key table file that cannot be made, opened or used as asked.
class KeyTableError : public Pemra::Exception {
 public:
   using Exception::Exception;
};

// A key table with no free key left.
class KeyTableFull : public KeyTableError {
 public:
   using KeyTableError::KeyTableError;
};

// A key table file that open will not take (or that is missing): its text is one line naming
// the file and why. `replaceable`: the file is this user's, and what it holds is lost or never
// was a table, so only a new table (whose records the agent's start adopts from the chip) puts
// the state right; or, for a damaged magic number, an open with KeyTableRepair::header.
class KeyTableRefused : public KeyTableError {
 public:
   explicit KeyTableRefused(Pemra::String message, bool replaceable = false)
       : KeyTableError(std::move(message)), replaceable_(replaceable) {}
   bool replaceable() const { return replaceable_; }

 private:
   bool replaceable_;
};

enum class KeyTableAccess { readWrite, readOnly };
// header: also restores a damaged magic number when the rest of the header checks with it.
enum class KeyTableRepair { usual, header };

// Bits of a record's flags that the agent gives meaning to; the table stores them as given.
struct KeyRecordFlag {
   // The record is the one of the table's default entry (set with the default action).
   static constexpr U16 defaultEntry = 0x0001;
};

class KeyTable {
 public:
   using EntryKey = Drosk::MbbPostcodef::EntryKey;
   using EntryConfig = Drosk::MbbPostcodef::EntryConfig;

   enum class SlotState : U8 { free, used, damaged };

   // 2: check words of the store core (Stow/Check.h).
   static constexpr U32 kVersion = 2;
   static constexpr U64 kMaxCapacity = U64(1) << 24;

   // Layout, for tools and tests that look at the file directly (the structs are defined in
   // the key table's own sources).
   struct Header;
   struct Record;
   static std::size_t headerBytes();
   static std::size_t recordBytes();
   static std::size_t recordOffset(U64 slot) { return headerBytes() + slot * recordBytes(); }

   // A new, empty table (mode 0600) bound to the chip identity `owner` (0: not bound yet);
   // refuses a path that already exists. KeyTableError (a full file system included) leaves
   // no file behind.
   static std::unique_ptr<KeyTable> create(std::string const& path, U32 capacity, U64 owner = 0);
   // An existing table, repaired where its records say how (see openNotes()). Refuses
   // (KeyTableRefused) a missing file, a file that is not a key table of this layout, and for
   // readWrite a file owned by another user. readWrite reserves the file's space first.
   // readOnly maps a private copy: repairs are seen by this process only and every write
   // throws.
   static std::unique_ptr<KeyTable> open(std::string const& path,
                                         KeyTableAccess access = KeyTableAccess::readWrite,
                                         KeyTableRepair repair = KeyTableRepair::usual);
   // open() when the path exists, else create(). An existing table that is not bound yet is
   // bound to a non-zero `owner`; one bound to another owner is refused.
   static std::unique_ptr<KeyTable> openOrCreate(std::string const& path, U32 capacity,
                                                 U64 owner = 0);
   // Removes the file; a missing file is not an error. KeyTableRefused for a file of another
   // user (also when root asks).
   static void destroy(std::string const& path);

   KeyTable(KeyTable const&) = delete;
   KeyTable& operator=(KeyTable const&) = delete;
   ~KeyTable();

   Pemra::String const& path() const { return path_; }
   bool readOnly() const { return readOnly_; }
   U64 capacity() const;
   // Records in the table, as the header counts them (exact after open).
   U64 count() const;
   // The largest key with a record; 0 when there is none.
   EntryKey highestKey() const;

   // The chip identity this table belongs to; 0 when it is not bound yet.
   U64 owner() const;
   void ownerIs(U64 owner);

   // One line for each repair open made (or, read-only, would have made), in the order made.
   std::vector<std::string> const& openNotes() const { return notes_; }
   // The open met damage (a check word failed), as opposed to what a kill leaves.
   bool damaged() const { return damaged_; }
   // The open took what only KeyTableRepair::header takes: every usual open refuses the file.
   bool needsRepair() const { return needsRepair_; }

   SlotState slotState(U64 slot) const;
   bool inUse(EntryKey key) const {
      return key != 0 && key <= capacity() && slotState(key - 1) == SlotState::used;
   }

   // The record of `key`: KeyTableError when it has none, Pemra::CorruptionDetectedException
   // when its slot is damaged.
   EntryConfig record(EntryKey key) const;
   // The fields in the slot of `key` as they lie, unchecked (zero when free): for a pass that a
   // checked one follows, as a start's adoption is followed by the resync's walk.
   EntryConfig recordAsStored(EntryKey key) const;
   // Starts fetching the slot of `key`, for a caller that knows the keys it changes next.
   void prefetch(EntryKey key) const;
   // Writes the record into the slot of its key (a free or used slot, never a damaged one).
   // Rewriting a record changes nothing when it is the same, and is crash-safe when only its
   // SDK entry handle changes; a rewrite that changes other fields leaves the slot damaged if
   // a kill lands inside it.
   void recordIs(EntryConfig const& config);
   // Clears the record of `key`; KeyTableError when it has none.
   void recordDel(EntryKey key);

   // The first slot at or after `slot` that is not free; capacity() when there is none.
   U64 nextTakenSlot(U64 slot) const;
   // The first free slot at or after `slot`; capacity() when there is none.
   U64 nextFreeSlot(U64 slot) const;
   // The largest key below `key` whose slot is not free; 0 when there is none.
   EntryKey takenKeyBelow(EntryKey key) const;
   // A fresh number for a record's generation field.
   U32 generationIs();

   // Clears every damaged slot and recounts the records and the highest key. Returns the
   // slots cleared.
   std::vector<U64> repair();
   // Text naming a damaged slot.
   Pemra::String damageText(U64 slot) const;

 private:
   KeyTable(Pemra::String path, Stow::Mapping map, bool readOnly);
   Header& header() const;
   Record& slotRecord(U64 slot) const;
   void checkKey(EntryKey key, char const* what) const;
   void checkWritable(char const* what) const;
   // At open (KeyTableRecovery.cpp): the header judged and repaired, then every slot once.
   void headerRepair(KeyTableRepair repair);
   void recordsScan();
   void note(std::string line);
   void damage(std::string line);  // a note of damage
   void clearSlot(U64 slot);
   // The may-be-free bits cover `cap` slots; new ones start set.
   void mayBeFreeCovers(U64 cap) const;
   void countIs(U64 count);
   void highestIs(EntryKey key);

   Pemra::String path_;
   Stow::Mapping map_;
   bool readOnly_;
   bool damaged_ = false;
   bool needsRepair_ = false;
   std::vector<std::string> notes_;
   // A bit a slot that may be free, and a bit a word of them that has one set. Every free
   // slot's bit is set (a clear sets it), so the search for a free slot passes a run of taken
   // ones 64 and 4096 at a time instead of reading their records; a bit found set on a taken
   // slot is cleared as the search passes it.
   mutable std::vector<U64> mayBeFree_, mayBeFreeWords_;
};

}  // namespace TwiceNatAgent
