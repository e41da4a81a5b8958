#pragma once
// One start of the agent over a chip and its shared-memory key table: attaches the chip as
// device 0, creates the table through the library's creation function (which resyncs it from
// the key table), and then programs and removes entries named by their contents, keeping the
// key table's records (SDK handles, keys) and the status manager in step with the chip.
//
// A start also reconciles what a kill can leave between the chip and the key table: a chip
// entry that no record names (killed after the chip add, before its record) gets a record
// before the resync, so the resync finds it; a record whose entry the chip no longer holds
// (killed between the chip delete and the record's removal) is dropped after it.
#include <optional>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "agent/cli/EntryIndex.h"
#include "agent/cli/EntrySpec.h"
#include "chip/Chip.h"

namespace TwiceNatCli {

class SdkLibrary;

class AgentSession {
 public:
   using Table = BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable;
   using TableEntry = BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry;

   static constexpr U8 kDevice = 0;
   static constexpr U16 kAllPipes = 0xFFFF;

   // Throws what the creation function throws (table exceptions, key table errors), and
   // KeyTableRefused for a key table bound to another chip. `readOnly` opens the key table
   // read-only: the start changes nothing on disk and only counts what it would reconcile.
   AgentSession(chip::Chip& chip, std::string const& keyTablePath, SdkLibrary const& sdk,
                bool readOnly = false);
   // Drops the table (nothing is removed from the chip) and detaches the chip.
   ~AgentSession();
   AgentSession(AgentSession const&) = delete;
   AgentSession& operator=(AgentSession const&) = delete;

   chip::Chip& chip() const { return chip_; }
   Table& table() const { return *table_; }
   TwiceNatAgent::KeyManager& keys() const { return *keys_; }
   bool vrfKeyField() const;
   char const* backEnd() const;

   // The key as this table takes it: on a table with the VRF field the VRF is always given (0
   // when left out); on one without, a VRF is refused with InputError (any VRF when
   // `strictVrf`, else only a non-zero one, which text read back from such a table may carry).
   MatchKey fitted(MatchKey key, bool strictVrf) const;
   // The match-spec object the table knows for these contents; null when none.
   MatchPtr find(MatchKey const& key) const;
   // Starts fetching where find(key) looks, for a caller that knows its next keys ahead.
   void prefetch(MatchKey const& key) const { index_.prefetch(key); }

   enum class Change { added, changed };
   // Adds or modifies the entry of a fitted key; table exceptions pass through and leave the
   // chip, the key table and the status manager as they were.
   Change program(EntrySpec const& spec);
   // InputError when the table has no such entry.
   void remove(MatchKey const& key);
   void defaultIs(ActionValues const& action);
   // False when the default action was never set (nothing to reset).
   bool defaultReset();

   struct Row {
      U32 handle = 0;
      MatchPtr match;
      TableEntry entry;  // as read back from the chip; empty when the chip lost it
      std::string status;
   };
   // Ordinary entries by handle, read back from the chip, filtered by `keep` on their key.
   template <class Keep>
   std::vector<Row> entries(Keep&& keep) const {
      std::vector<MatchPtr> matches;
      index_.forEach([&](MatchKey const& key, U32 entryKey) {
         if (keep(key)) matches.push_back(matchOf(entryKey));
      });
      return rowsOf(matches);
   }
   std::optional<Row> defaultEntry() const;
   U64 entryCount() const { return index_.size(); }

   // What the start reconciled (read-only: what it would have).
   struct Reconciled {
      U64 adopted = 0;   // chip entries that had no key record
      U64 dropped = 0;   // key records whose entry the chip did not hold
      U64 rewalked = 0;  // resyncs run again after the walk met a damaged record
   };
   Reconciled const& reconciled() const { return reconciled_; }
   // Key records whose entry the chip no longer holds, kept because the start is read-only.
   U64 staleRecords() const { return readOnly_ ? reconciled_.dropped : 0; }
   // Chip entries without a key record, left so because the start is read-only.
   U64 orphanEntries() const { return readOnly_ ? reconciled_.adopted : 0; }
   bool readOnly() const { return readOnly_; }
   // The chip's and the key table's repair notes, then one line saying what the start
   // reconciled.
   std::vector<std::string> const& startNotes() const { return notes_; }
   bool reconciledAnything() const {
      return reconciled_.adopted + reconciled_.dropped + reconciled_.rewalked != 0;
   }

 private:
   MatchPtr matchOf(U32 entryKey) const;
   struct Attachment {
      Attachment(U8 device, chip::Chip& chip);
      ~Attachment();
      U8 device;
   };

   void bindToChip(TwiceNatAgent::KeyTable& table) const;
   void createTable(SdkLibrary const& sdk);
   void adoptOrphans();
   void settleRecords();
   void nameQuarantined(std::vector<U64> const& stale, U64 defaultKey);
   std::string reconciledText() const;
   bool defaultIsReset() const;
   void recordHandle(MatchPtr const& match, U16 flags);
   U32 handleOf(MatchPtr const& match) const;
   std::string statusOf(MatchPtr const& match) const;
   std::vector<Row> rowsOf(std::vector<MatchPtr> const& matches) const;

   chip::Chip& chip_;
   Attachment attachment_;
   TwiceNatAgent::KeyManager::Ptr keys_;
   TwiceNatAgent::StatusManager::Ptr statuses_;
   Table::Ptr table_;
   EntryIndex index_;
   U64 defaultKey_ = 0;  // of the record flagged as the default entry's; 0 when none
   bool readOnly_;
   Reconciled reconciled_;
   std::vector<std::string> notes_;
};

}  // namespace TwiceNatCli
