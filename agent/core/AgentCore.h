#pragma once
// The agent's core: one started table over a chip, and the typed operations every front end
// (command line, socket service, P4Runtime) programs it through.
//
// A start opens the shared-memory key table, reconciles it with what the SDK inventory says
// the chip holds (a chip entry without a record is adopted, a record without a chip entry is
// dropped), creates the table through the library's creation function (whose resync rebuilds
// the library's state from the records) and builds the core's index of entries by contents.
// The chip must already be attached as the device the table programs.
//
// Threads: the library's operations must never overlap, so a core is used by one thread at a
// time; front ends on several threads serialise their calls (see lock()).
//
// Crash safety: each update is crash-safe on its own (the chip takes the entry before its key
// record is written; a removal clears the record after the chip let the entry go, except the
// default's reset, which clears it first: a record over a chip default that holds what a reset
// leaves is then always a default set to onMiss, which a start keeps), so a kill
// at any store, also inside a batch or its rollback, leaves every entry either as it was before
// the update or as the update made it, and the next start reconciles the rest.
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/platform/SdkEntryInventory.h"
#include "agent/core/EntryValues.h"

namespace TwiceNatAgent {

// Outcome of one operation. The codes are the canonical ones a P4Runtime server answers with,
// so front ends translate them one to one.
enum class Code : U8 {
   ok,
   alreadyExists,      // insert of a key the table holds
   notFound,           // modify or delete of a key it does not hold
   invalidArgument,    // a value the table cannot take (a VRF on a table without the field)
   resourceExhausted,  // the chip or the key table is full
   unavailable,        // the SDK asks to try again
   unimplemented,      // the SDK does not support what was asked
   aborted,            // not applied: an earlier update of its atomic batch failed
   internal,           // any other SDK failure
};
char const* codeName(Code code);  // "OK", "ALREADY_EXISTS", ...

struct Status {
   Code code = Code::ok;
   std::string message;  // one line, empty when ok
   I32 sdkStatus = 0;    // the SDK's status code when the SDK refused
   bool ok() const { return code == Code::ok; }
};
// The status an operation ends with when `failure` is in flight: a table exception is the
// SDK's refusal ("<message> (<class>, status <n>)", with its code and sdkStatus), a full key
// table RESOURCE_EXHAUSTED, anything else INTERNAL with its text.
Status statusOf(std::exception_ptr failure);

enum class Change : U8 { none, added, changed, removed };

// What a programming did, from the one lookup it made.
struct Programmed {
   Status status;
   Change change = Change::none;
   U64 key = 0;     // the entry's key in the key table
   U32 handle = 0;  // its SDK entry handle
};

// How an entry came to be what it is, as of this start.
enum class EntryOrigin : U8 { programmed, resynced, missingOnChip };

// An entry as read back from the chip.
struct EntryRow {
   EntrySpec entry;
   U32 handle = 0;
   U64 key = 0;
   EntryOrigin origin = EntryOrigin::programmed;
};

// Restricts a read to the entries whose given fields match.
struct ReadFilter {
   std::optional<U32> dip, sip;
   std::optional<U16> vrf;
};

enum class UpdateKind : U8 {
   insert,        // ALREADY_EXISTS when the key is held
   modify,        // NOT_FOUND when it is not
   program,       // insert or modify
   remove,        // NOT_FOUND when it is not held; the action is ignored
   defaultSet,    // the match is ignored
   defaultReset,  // both are ignored; succeeds also when no default was set
};

struct Update {
   UpdateKind kind = UpdateKind::program;
   EntrySpec entry;
};

enum class BatchMode : U8 {
   continueOnError,  // every update is tried; each gets its own status
   rollbackOnError,  // the first failure undoes what the batch did, in reverse order
   dryRun,           // each update checked against the table as the batch would leave it;
                     // nothing is changed
};

struct BatchResult {
   // One per update, in order. After a rollback the failing update has its own status and
   // every other one ABORTED.
   std::vector<Status> statuses;
   U64 added = 0, changed = 0, removed = 0;  // what stays done
   U64 failed = 0;  // updates whose status is not OK (ABORTED ones included)
   bool rolledBack = false;
   // A rollback step the SDK refused: the batch is then only partly undone, and this says
   // where (empty when the rollback was whole).
   std::string rollbackFailure;
   bool ok() const;
};

class AgentCore {
 public:
   static constexpr U8 kDevice = 0;
   static constexpr U16 kAllPipes = 0xFFFF;

   struct Config {
      std::string keyTablePath;    // made when missing (sized to the chip)
      void* sdkLibrary = nullptr;  // dlopen handle of the SDK library the PD object binds
      std::string sdkLibraryPath;
      BfnTable::SdkEntryInventory const* inventory = nullptr;  // of the attached chip
      std::string chipName;  // names the chip in messages (its file); may be empty
      U8 device = kDevice;
      U16 pipe = kAllPipes;
      U32 sessionId = 1;
      // Opens the key table read-only: the start changes nothing and only counts what it
      // would reconcile; every changing operation is refused.
      bool readOnly = false;
   };

   // What a start found and did.
   struct StartReport {
      U64 adopted = 0;   // chip entries that had no key record
      U64 dropped = 0;   // key records whose entry the chip did not hold
      U64 rewalked = 0;  // resyncs run again after key-table damage met mid-start
      U64 resynced = 0;  // entries the table carries on with
      double seconds = 0;
      // The key table's repair notes, then one line saying what the start reconciled.
      std::vector<std::string> notes;
      // The records dropped because the chip no longer held their entries, with the handle each
      // named, so that whoever knows why the chip lost them can say so.
      struct Dropped {
         U64 key = 0;
         U32 handle = 0;
         bool isDefault = false;
      };
      std::vector<Dropped> staleRecords;
      bool reconciledAnything() const { return adopted + dropped + rewalked != 0; }
   };

   // Throws what the creation function throws (table exceptions, key table errors), and
   // KeyTableRefused for a key table bound to another chip.
   static std::unique_ptr<AgentCore> start(Config const& config);
   // Drops the table (nothing is removed from the chip).
   ~AgentCore();
   AgentCore(AgentCore const&) = delete;
   AgentCore& operator=(AgentCore const&) = delete;

   // Front ends on several threads hold this around each call.
   std::mutex& lock() { return lock_; }

   StartReport const& startReport() const;
   bool readOnly() const;
   bool vrfKeyField() const;
   char const* backEnd() const;  // "PD" or "BfRt"
   U64 count() const;            // ordinary entries
   U64 capacity() const;         // of the chip
   struct KeyTableFigures {
      std::string path;
      U64 records = 0, capacity = 0, highestKey = 0;
   };
   KeyTableFigures keyTable() const;

   // The key as this table takes it: on a table with the VRF field the VRF is always given
   // (0 when left out); on one without, a VRF is refused (INVALID_ARGUMENT): any given VRF
   // when `strictVrf`, else only a non-zero one.
   Status fit(MatchKey& key, bool strictVrf) const;

   Programmed insert(EntrySpec const& entry);
   Programmed modify(EntrySpec const& entry);
   Programmed program(EntrySpec const& entry);  // insert or modify
   Programmed remove(MatchKey const& key);
   Programmed defaultIs(ActionValues const& action);
   // change none when no default was set.
   Programmed defaultReset();
   Programmed apply(Update const& update);

   // One batch, whole: begin(mode), its updates, commit.
   BatchResult apply(std::span<Update const> batch, BatchMode mode);
   // About `updates` more will follow (a load of that many lines): room is made for the entries
   // they may add at once, instead of as they arrive. Never more than the key table can record.
   void expect(U64 updates);

   // A batch that arrives in parts (a load streamed over a socket). rollbackOnError keeps an
   // undo record of every update it made until commit; rollback() or dropping the transaction
   // uncommitted undoes them in reverse order. dryRun keeps an overlay of what the batch would
   // have changed, so later parts are checked against it. While a transaction is open the
   // front end lets no other writer in: an undo would overwrite what that writer did.
   class Transaction {
    public:
      virtual ~Transaction() = default;
      // Statuses and counts of this part; after a failure under rollbackOnError the whole
      // transaction is rolled back and every later part is refused (ABORTED).
      virtual BatchResult apply(std::span<Update const> part) = 0;
      // Totals so far: the counts, failed, rolledBack and rollbackFailure (the statuses are
      // each part's).
      virtual BatchResult const& totals() const = 0;
      virtual void commit() = 0;
      virtual BatchResult rollback() = 0;
   };
   std::unique_ptr<Transaction> begin(BatchMode mode);

   // One entry by its key, read back from the chip; nothing when the table has none.
   std::optional<EntryRow> read(MatchKey const& key) const;
   // The default entry; nothing when no default action is set.
   std::optional<EntryRow> readDefault() const;
   // A page of a streamed read: up to `max` entries that pass `filter`, in key order, from
   // `cursor` on (0 for the first page), appended to `out`. Returns the cursor of the next
   // page, 0 when the read is done. Between pages the table may change: an entry present for
   // the whole read is met exactly once; one added or removed meanwhile may or may not be.
   U64 readPage(U64 cursor, std::size_t max, ReadFilter const& filter,
                std::vector<EntryRow>& out) const;

 private:
   struct State;
   explicit AgentCore(std::unique_ptr<State> state);
   std::unique_ptr<State> s_;
   mutable std::mutex lock_;
};

}  // namespace TwiceNatAgent
