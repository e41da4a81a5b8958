#pragma once
// The shared-memory key table: a file mapped shared into every process that opens it, with a
// header and one fixed-size slot per key (key = slot + 1). A slot is either all zero (free) or
// holds a record whose checksum covers its fields and its slot index; anything else is damage.
// One process writes at a time (the agent); others may read.
#include <memory>
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

   // A new, empty table; refuses a path that already exists.
   static std::unique_ptr<KeyTable> create(Pemra::String const& path, U64 capacity);
   // An existing table; refuses a file whose header is not a valid key table header.
   static std::unique_ptr<KeyTable> open(Pemra::String const& path);
   static std::unique_ptr<KeyTable> openOrCreate(Pemra::String const& path, U64 capacity);
   // Removes the file; a missing file is not an error.
   static void destroy(Pemra::String const& path);

   KeyTable(KeyTable const&) = delete;
   KeyTable& operator=(KeyTable const&) = delete;
   ~KeyTable();

   Pemra::String const& path() const { return path_; }
   U64 capacity() const;
   // Records in the table, as the header counts them.
   U64 count() const;
   EntryKey highestKey() const;
   void highestKeyIs(EntryKey key);

   SlotState slotState(U64 slot) const;
   bool inUse(EntryKey key) const {
      return key != 0 && key <= capacity() && slotState(key - 1) == SlotState::used;
   }

   // The record of `key`: KeyTableError when it has none, Pemra::CorruptionDetectedException
   // when its slot is damaged.
   EntryConfig record(EntryKey key) const;
   // Writes the record into the slot of its key (a free or used slot, never a damaged one).
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

   // Clears every damaged slot, recounts the records and lowers the highest-key mark to the
   // largest key left when it pointed above it. Returns the slots cleared.
   std::vector<U64> repair();
   // Text naming a damaged slot.
   Pemra::String damageText(U64 slot) const;

 private:
   struct Header;
   struct Record;

   KeyTable(Pemra::String path, int fd, void* base, std::size_t bytes);
   static std::unique_ptr<KeyTable> mapFile(Pemra::String const& path, int fd, std::size_t bytes);
   Header& header() const;
   Record& slotRecord(U64 slot) const;
   void checkKey(EntryKey key, char const* what) const;

   Pemra::String path_;
   int fd_;
   void* base_;
   std::size_t bytes_;
};

}  // namespace TwiceNatAgent
