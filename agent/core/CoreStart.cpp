// The start: the key table opened and bound to the chip, the table created through the
// library's creation function, and what a kill left between the chip and the key table
// reconciled, all in the one walk over the key table that the creation's resync makes.
//
// The resync hands every record to the key manager's populate with the match read back for
// it; the walk below listens there and builds the index as the records go by, noting the
// records whose entry the chip no longer holds (a delete killed before its record went) and
// the records that name an entry another record names already (which no sequence of stores
// makes, but damage can). Chip entries without a record (an add killed before its record
// was written) are then found through the SDK's inventory, only when the chip holds more
// entries than the walk met, and taken in one by one.
#include <algorithm>
#include <array>
#include <filesystem>

#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "agent/core/CoreState.h"
#include "agent/core/EntryIndexFiller.h"

namespace TwiceNatAgent {

namespace {

// Walks after the first; damage appearing during a start's own walks means a failing disk.
constexpr U64 kRewalks = 2;
// Room for every entry of the chip and a default of each of up to 16 pipes and of all pipes.
constexpr U64 kDefaultRecords = 17;
constexpr std::size_t kHandleBatch = 1024;
constexpr std::size_t kMaxDefaults = 64;

class StartWalk final : public KeyManager::PopulateListener {
 public:
   // A record to drop (entryKey) that names the same entry as one that stays (kept).
   using Duplicate = EntryIndexFiller::Repeat;

   // Listens from here until the walk is dropped; `fresh` starts the index and the notes over.
   StartWalk(CoreState& s, bool fresh) : s_(s) {
      if (fresh) {
         s_.index.clear();
         // An eighth more than the records, so that the first adds after a start do not
         // rebuild the whole index at once.
         s_.index.reserve(s_.keys->size() + s_.keys->size() / 8);
         stale.clear();
         s_.report.staleRecords.clear();
         defaultKey = 0;
      }
      s_.keys->populateListenerIs(this);
   }
   ~StartWalk() { finish(); }
   StartWalk(StartWalk const&) = delete;
   StartWalk& operator=(StartWalk const&) = delete;

   void finish() {
      fill_.flush();  // the records staged go into the index
      s_.keys->populateListenerIs(nullptr);
   }
   void listen() { s_.keys->populateListenerIs(this); }

   void populated(KeyManager::EntryConfig const& record,
                  KeyManager::MatchPtr const& match) override {
      if (!match) {
         stale.push_back(record.key);
         s_.report.staleRecords.push_back({record.key, record.sdkEntryHandle,
                                           (record.flags & KeyRecordFlag::defaultEntry) != 0});
         return;
      }
      if ((record.flags & KeyRecordFlag::defaultEntry) ||
          s_.inventory.defaultHandle(record.sdkEntryHandle)) {
         if (defaultKey != 0) {
            fill_.repeats.push_back({record.key, defaultKey});
         } else {
            defaultKey = record.key;
            defaultHandle = record.sdkEntryHandle;
         }
         return;
      }
      // The match read back is one of the library's own.
      fill_.add(
          matchKeyOf(static_cast<BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec const&>(*match)),
          record.key);
   }

   // Records that repeat another's entry (the index's and the default's).
   std::vector<Duplicate> const& duplicates() const { return fill_.repeats; }
   // Entries whose records the chip no longer holds.
   std::vector<U64> stale;
   U64 defaultKey = 0;
   U32 defaultHandle = 0;

 private:
   CoreState& s_;
   EntryIndexFiller fill_{s_.index};
};

std::string countText(U64 n, char const* one, char const* many) {
   return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string reconciledText(AgentCore::StartReport const& r, bool readOnly) {
   return std::string(readOnly ? "read-only start, not reconciled: " : "start reconciled: ") +
          countText(r.adopted, "chip entry", "chip entries") + " without a key record " +
          (readOnly ? "found" : "adopted") + ", " +
          countText(r.dropped, "key record", "key records") + " without a chip entry " +
          (readOnly ? "found" : "dropped") + ", " + countText(r.rewalked, "resync", "resyncs") +
          " run again after key-table damage";
}

// After the walk, before anything is adopted (so that their keys are free again): the records
// that repeat another's entry and those without a chip entry dropped.
void dropRepeatsAndStale(CoreState& s, StartWalk const& walk) {
   bool const readOnly = s.config.readOnly;
   for (StartWalk::Duplicate const& d : walk.duplicates()) {
      s.table->resyncedMatchIs(d.kept, s.matchOf(d.entryKey), s.matchOf(d.kept));
      ++s.report.dropped;
      if (readOnly) {
         s.keys->populate(d.entryKey, nullptr);
      } else {
         s.keys->free(d.entryKey);
      }
   }
   s.report.dropped += walk.stale.size();
   if (!readOnly) {
      for (U64 key : walk.stale)
         s.keys->free(key);
   }
}

// Last: the default's record onto the table's default match and, on a table without the VRF
// key field, entries read back with a VRF (as PD reads them, and as this table would refuse to
// modify them) moved onto matches without one.
void settle(CoreState& s, StartWalk const& walk) {
   if (walk.defaultKey != 0) {
      s.table->resyncedMatchIs(walk.defaultKey, s.matchOf(walk.defaultKey), s.defaultMatch);
      s.defaultKey = walk.defaultKey;
      s.defaultHandle = walk.defaultHandle;
   }
   U64 const unsupported = ~s.table->supportedOptionalFields();
   if (!(unsupported & BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::kVrfIdBit)) return;
   s.index.forEach([&](MatchKey key, U32 entryKey) {
      MatchSpecPtr const read = s.matchOf(entryKey);
      if (!(read->isSet() & unsupported)) return;
      key.vrfGiven = false;
      key.vrf = 0;
      s.table->resyncedMatchIs(entryKey, read, matchSpecOf(key));
   });
}

// A chip entry without a record gets one, with the lowest free key like any add, and the table
// takes it in as the resync would have (the walk, still listening, indexes it). Chip entries are
// looked up only when the chip holds more than the walk met.
void adoptOrphans(CoreState& s, bool defaultSeen) {
   auto adopt = [&](U32 handle, U16 flags) {
      ++s.report.adopted;
      if (s.config.readOnly) return;
      U64 const key = s.keys->alloc(nullptr, false);
      s.keys->recordHandleIs(key, handle, flags);
      if (!s.table->resyncedEntryIs(key, handle).match()) s.keys->free(key);
   };
   if (s.index.size() < s.inventory.entryCount()) {
      std::vector<U32> recorded;
      recorded.reserve(s.index.size());
      s.index.forEach([&](MatchKey const&, U32 key) {
         recorded.push_back(s.keys->table().recordAsStored(key).sdkEntryHandle);
      });
      std::sort(recorded.begin(), recorded.end());
      std::array<BfnTable::BfnSdkEntryHandle, kHandleBatch> held;
      BfnTable::BfnSdkEntryHandle after = 0;
      while (std::size_t const n = s.inventory.entryHandles(after, held.data(), held.size())) {
         for (std::size_t i = 0; i < n; ++i) {
            if (!std::binary_search(recorded.begin(), recorded.end(), held[i])) adopt(held[i], 0);
         }
         after = held[n - 1];
      }
   }
   if (defaultSeen) return;
   // A default is on the chip when it holds another action than the one a reset leaves.
   std::array<BfnTable::SdkEntryInventory::DefaultEntry, kMaxDefaults> defaults;
   std::size_t const n = s.inventory.defaultEntries(defaults.data(), defaults.size());
   auto const set =
       std::find_if(defaults.begin(), defaults.begin() + n, [](auto const& d) { return d.set; });
   if (set != defaults.begin() + n) adopt(set->handle, KeyRecordFlag::defaultEntry);
}

}  // namespace

CoreState::~CoreState() {
   index.clear();
   defaultMatch = nullptr;
   table = nullptr;
   statuses = nullptr;
   // Whoever still holds the key manager gets it back with a map of its own.
   if (keys && keys->references() > 1) keys->matchIndexIs(nullptr);
   keys = nullptr;
}

KeyManager::EntryKey CoreState::keyNamed(BfnTable::MatchSpecBase const& match) const {
   if (&match == defaultMatch.ptr()) return defaultKey;
   // Every match the table holds is one of the library's own.
   return index.find(
       matchKeyOf(static_cast<BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec const&>(match)));
}

void CoreState::open() {
   KeyTableAccess const access =
       config.readOnly ? KeyTableAccess::readOnly : KeyTableAccess::readWrite;
   std::error_code ec;
   std::unique_ptr<KeyTable> kt;
   if (config.readOnly || std::filesystem::exists(config.keyTablePath, ec)) {
      kt = KeyTable::open(config.keyTablePath, access);
   } else {
      U64 const capacity =
          std::min<U64>(inventory.entryCapacity() + kDefaultRecords, KeyTable::kMaxCapacity);
      kt = KeyTable::create(config.keyTablePath, U32(capacity), inventory.deviceIdentity());
   }
   // A key table names handles of one chip: bound to it at its first start, refused beside
   // another.
   U64 const identity = inventory.deviceIdentity();
   if (kt->owner() != identity && identity != 0) {
      if (kt->owner() != 0) {
         throw KeyTableRefused("key table " + kt->path() + " belongs to another chip" +
                               (config.chipName.empty() ? "" : " than " + config.chipName));
      }
      if (!config.readOnly) kt->ownerIs(identity);
   }
   report.notes = kt->openNotes();
   keys = KeyManager::keyManagerIs(std::move(kt));
   keys->matchIndexIs(this);
   // Every entry holds a key: the index never needs room for more than the key table records.
   index.limitIs(keys->capacity());
   statuses = StatusManager::statusManagerIs(keys);
}

void CoreState::createTable() {
   table = twiceNatAddrOnlyTableFactory(keys, statuses, config.sdkLibrary, config.sessionId,
                                        config.device, config.pipe, config.sdkLibraryPath);
}

void CoreState::reconcile() {
   std::optional<StartWalk> walk;
   walk.emplace(*this, true);
   createTable();
   // Open cleared the damage it found; damage that appears after it stops the resync's walk,
   // and the map repairs the table. The walk is then run again from the first record, so that
   // every intact record is resynced in this start; the entries of the records the repair
   // dropped are taken in below like any entry without a record.
   while (keys->tableMap().repairs() > report.rewalked && report.rewalked < kRewalks) {
      ++report.rewalked;
      walk.reset();
      table = nullptr;
      walk.emplace(*this, true);
      createTable();
   }
   walk->finish();
   defaultMatch = table->defaultMatchSpecIs();
   vrf =
       table->supportedOptionalFields() & BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::kVrfIdBit;
   // The runtime's type of the table says which back end the creation chose.
   bfrt = table->fwkType()->isA(&BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::type());

   dropRepeatsAndStale(*this, *walk);
   walk->listen();  // the adopted entries go into the index as the walk's did
   adoptOrphans(*this, walk->defaultKey != 0);
   walk->finish();
   settle(*this, *walk);
   report.resynced = index.size();
   report.notes.push_back(reconciledText(report, config.readOnly));
}

}  // namespace TwiceNatAgent
