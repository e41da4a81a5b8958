#pragma once
// The shared-memory key table: a file mapped shared into every process that opens it, with a
// header and one fixed-size slot per key (key = slot + 1). A slot is either all zero (free) or
// holds a record whose checksum covers its fields and its slot index; anything else is damage.
// One process writes at a time (the agent); others may read.
//
// Crash safety: every store to the mapping is preceded by chip::crashPoint(), and the stores
// are ordered so that a kill between any two of them leaves a file that the next open accepts:
// - a new record gets its checksum last, so a half-written one fails its check and is cleared;
// - a handle change first parks the old handle in the record's undo word, so a record caught
//   between its handle and its checksum is rolled back to the old handle;
// - the header's count, highest key and generation are recomputed from the records at open.
// Open walks every slot once; it repairs what the records determine (with one note each) and
// refuses only what loses information: a wrong magic, wrong sizes, a file size that does not
// match the header, and, for writing, a file owned by another user.
#include <memory>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/platform/Drosk.h"
#include "Pemra/String.h"
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

// A key table file that open will not take: its text is one line naming the file and why.
class KeyTableRefused : public KeyTableError {
 public:
   using KeyTableError::KeyTableError;
};

enum class KeyTableAccess { readWrite, readOnly };

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

   static constexpr U32 kVersion = 1;
   static constexpr U64 kMaxCapacity = U64(1) << 24;

   // Layout, for tools and tests that look at the file directly.
   static std::size_t headerBytes();
   static std::size_t recordBytes();
   static std::size_t recordOffset(U64 slot) { return headerBytes() + slot * recordBytes(); }

   // A new, empty table (mode 0600) bound to the chip identity `owner` (0: not bound yet);
   // refuses a path that already exists.
   static std::unique_ptr<KeyTable> create(std::string const& path, U32 capacity, U64 owner = 0);
   // An existing table, repaired where its records say how (see openNotes()). Refuses
   // (KeyTableRefused) a file that is not a key table of this layout, and for readWrite a
   // file owned by another user. readOnly maps a private copy: repairs are seen by this
   // process only and every write throws.
   static std::unique_ptr<KeyTable> open(std::string const& path,
                                         KeyTableAccess access = KeyTableAccess::readWrite);
   // open() when the path exists, else create(). An existing table that is not bound yet is
   // bound to a non-zero `owner`; one bound to another owner is refused.
   static std::unique_ptr<KeyTable> openOrCreate(std::string const& path, U32 capacity,
                                                 U64 owner = 0);
   // Removes the file; a missing file is not an error.
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
   struct Header;
   struct Record;

   KeyTable(Pemra::String path, int fd, void* base, std::size_t bytes, bool readOnly);
   static std::unique_ptr<KeyTable> mapFile(Pemra::String const& path, int fd, std::size_t bytes,
                                            bool readOnly);
   Header& header() const;
   Record& slotRecord(U64 slot) const;
   void checkKey(EntryKey key, char const* what) const;
   void checkWritable(char const* what) const;
   void headerInit(U64 capacity, U64 owner);
   U64 nextTakenSlot(U64 slot, U64 cap) const;
   void headerRepair();
   void recordsScan();
   void note(std::string line);
   void clearSlot(U64 slot);
   void countIs(U64 count);
   void highestIs(EntryKey key);

   Pemra::String path_;
   int fd_;
   void* base_;
   std::size_t bytes_;
   bool readOnly_;
   std::vector<std::string> notes_;
};

}  // namespace TwiceNatAgent
