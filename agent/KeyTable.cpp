#include "agent/KeyTable.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "chip/CrashPoint.h"

namespace TwiceNatAgent {

// Field order keeps every member naturally aligned; both structs are laid out with no padding.
struct KeyTable::Header {
   U64 magic;
   U32 version;
   U32 headerBytes;
   U32 recordBytes;
   U32 check;  // over the fields that never change after creation
   U64 capacity;
   U64 highestKey;
   U64 count;
   U32 generation;
   U32 ownerCheck;  // of `owner`; 0 while the table is not bound
   U64 owner;
};

// Four 8-byte words: key | opId, handle | generation, flags, state, spare | undo, checksum.
struct KeyTable::Record {
   U64 key;
   U32 opId;
   U32 sdkEntryHandle;
   U32 generation;
   U16 flags;
   U8 state;
   U8 reserved0;
   U32 undoHandle;  // the handle being replaced while a handle change is under way
   U32 checksum;    // over every byte above but the undo word, and the slot index; never 0
};

namespace {

constexpr U64 kMagic = 0x4C425459454B4E54ull;  // "TNKEYTBL" in file byte order
constexpr U8 kUsed = 0xA5;

U32 fnv(void const* data, std::size_t n, U32 h = 2166136261u) {
   auto const* p = static_cast<unsigned char const*>(data);
   for (std::size_t i = 0; i < n; ++i) {
      h ^= p[i];
      h *= 16777619u;
   }
   return h;
}

std::string errnoText() {
   return std::strerror(errno);
}

// One store to the mapping, kept in program order with the crash points around it.
void store64(void* at, U64 value) {
   __atomic_store_n(static_cast<U64*>(at), value, __ATOMIC_RELAXED);
   std::atomic_signal_fence(std::memory_order_seq_cst);
}
void store32(void* at, U32 value) {
   __atomic_store_n(static_cast<U32*>(at), value, __ATOMIC_RELAXED);
   std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace

std::size_t KeyTable::headerBytes() {
   return sizeof(Header);
}
std::size_t KeyTable::recordBytes() {
   return sizeof(Record);
}

namespace {

template <class H>
U32 headerCheckOf(H const& h) {
   U32 c = fnv(&h.magic, sizeof h.magic);
   c = fnv(&h.version, sizeof h.version, c);
   c = fnv(&h.headerBytes, sizeof h.headerBytes, c);
   c = fnv(&h.recordBytes, sizeof h.recordBytes, c);
   return fnv(&h.capacity, sizeof h.capacity, c);
}

U32 ownerCheckOf(U64 owner) {
   if (owner == 0) return 0;
   U32 c = fnv(&owner, sizeof owner, 0x6F776E72u);
   return c == 0 ? 1 : c;
}

// The undo word hashes as zero, so files whose records never had one check the same.
template <class R>
U32 recordCheckOf(R const& r, U64 slot) {
   U32 const zero = 0;
   U32 c = fnv(&r, offsetof(R, undoHandle));
   c = fnv(&zero, sizeof zero, c);
   c = fnv(&slot, sizeof slot, c);
   return c == 0 ? 1 : c;
}

template <class R>
bool isZero(R const& r) {
   static_assert(sizeof(R) == 4 * sizeof(U64));
   U64 w[4];
   std::memcpy(w, &r, sizeof w);
   return (w[0] | w[1] | w[2] | w[3]) == 0;
}

template <class R>
bool isValid(R const& r, U64 slot) {
   return r.state == kUsed && r.key == slot + 1 && r.checksum == recordCheckOf(r, slot);
}

template <class R>
U64 wordOf(R const& r, int i) {
   U64 w;
   std::memcpy(&w, reinterpret_cast<char const*>(&r) + i * 8, sizeof w);
   return w;
}

}  // namespace

KeyTable::KeyTable(Pemra::String path, int fd, void* base, std::size_t bytes, bool readOnly)
    : path_(std::move(path)), fd_(fd), base_(base), bytes_(bytes), readOnly_(readOnly) {
   static_assert(sizeof(Header) == 64 && sizeof(Record) == 32);
}

KeyTable::~KeyTable() {
   ::munmap(base_, bytes_);
   ::close(fd_);
}

std::unique_ptr<KeyTable> KeyTable::mapFile(Pemra::String const& path, int fd, std::size_t bytes,
                                            bool readOnly) {
   // Read-only: a private copy, so open's repairs stay in this process and the file is untouched.
   void* base =
       ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, readOnly ? MAP_PRIVATE : MAP_SHARED, fd, 0);
   if (base == MAP_FAILED) {
      std::string why = errnoText();
      ::close(fd);
      throw KeyTableError("key table " + path + ": cannot map " + std::to_string(bytes) +
                          " bytes: " + why);
   }
   return std::unique_ptr<KeyTable>(new KeyTable(path, fd, base, bytes, readOnly));
}

std::unique_ptr<KeyTable> KeyTable::create(std::string const& path, U32 capacity, U64 owner) {
   if (capacity == 0 || capacity > kMaxCapacity) {
      throw KeyTableError("key table " + path + ": capacity " + std::to_string(capacity) +
                          " is outside 1.." + std::to_string(kMaxCapacity));
   }
   int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
   if (fd < 0) throw KeyTableError("key table " + path + ": cannot create: " + errnoText());
   std::size_t bytes = recordOffset(capacity);
   if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
      std::string why = errnoText();
      ::close(fd);
      ::unlink(path.c_str());
      throw KeyTableError("key table " + path + ": cannot size: " + why);
   }
   std::unique_ptr<KeyTable> t;
   try {
      t = mapFile(path, fd, bytes, false);
   } catch (...) {
      ::unlink(path.c_str());
      throw;
   }
   t->headerInit(capacity, owner);
   return t;
}

// The magic goes last: a header cut short before it is all zero or lacks only the magic, and
// open rebuilds an all-zero one from the file size (a bind that was cut short is unbound).
void KeyTable::headerInit(U64 capacity, U64 owner) {
   Header h{};
   h.magic = kMagic;
   h.version = kVersion;
   h.headerBytes = sizeof(Header);
   h.recordBytes = sizeof(Record);
   h.capacity = capacity;
   h.check = headerCheckOf(h);
   h.owner = owner;
   h.ownerCheck = ownerCheckOf(owner);
   Header& m = header();
   if (!readOnly_) chip::crashPoint();
   for (std::size_t i = 1; i < sizeof h / 8; ++i)
      store64(reinterpret_cast<char*>(&m) + 8 * i, wordOf(h, int(i)));
   if (!readOnly_) chip::crashPoint();
   store64(&m.magic, kMagic);
}

std::unique_ptr<KeyTable> KeyTable::open(std::string const& path, KeyTableAccess access) {
   bool const ro = access == KeyTableAccess::readOnly;
   auto refuse = [&](std::string const& why) {
      throw KeyTableRefused("key table " + path + ": " + why);
   };
   int fd = ::open(path.c_str(), (ro ? O_RDONLY : O_RDWR) | O_CLOEXEC);
   if (fd < 0) {
      std::string why = errnoText();
      if (errno == EACCES && !ro) why += " (read-only commands open it read-only)";
      throw KeyTableError("key table " + path + ": cannot open: " + why);
   }
   struct stat st {};
   if (::fstat(fd, &st) != 0) {
      std::string why = errnoText();
      ::close(fd);
      throw KeyTableError("key table " + path + ": cannot stat: " + why);
   }
   auto const size = static_cast<std::size_t>(st.st_size);
   std::string problem;
   if (!ro && st.st_uid != ::geteuid()) {
      problem = "owned by user " + std::to_string(st.st_uid) + ", not by this user (" +
                std::to_string(::geteuid()) + ")";
   } else if (!S_ISREG(st.st_mode)) {
      problem = "not a regular file";
   } else if (size < sizeof(Header)) {
      problem = "file of " + std::to_string(size) + " bytes is too short for a header";
   }
   if (!problem.empty()) {
      ::close(fd);
      refuse(problem);
   }
   std::unique_ptr<KeyTable> t = mapFile(path, fd, size, ro);
   Header& h = t->header();
   std::size_t const records = (size - sizeof(Header)) / sizeof(Record);
   if (h.magic == 0 && records >= 1 && records <= kMaxCapacity &&
       (size - sizeof(Header)) % sizeof(Record) == 0 && t->nextTakenSlot(0, records) == records) {
      // create() was killed before its magic landed; no record was ever written.
      t->note("creation was cut short; header rebuilt for capacity " + std::to_string(records));
      t->headerInit(records, 0);
   }
   if (h.magic != kMagic) refuse("not a key table (bad magic)");
   if (h.headerBytes != sizeof(Header) || h.recordBytes != sizeof(Record)) {
      refuse("header or record size does not match this build");
   }
   if ((size - sizeof(Header)) % sizeof(Record) != 0 || records == 0 || records > kMaxCapacity) {
      refuse("file of " + std::to_string(size) + " bytes is not a header and 1.." +
             std::to_string(kMaxCapacity) + " whole records");
   }
   t->headerRepair();
   t->recordsScan();
   return t;
}

// The fixed fields are covered by the header check. One damaged field among them is told
// apart from a damaged check by recomputing the check with the value the file size and this
// build give; anything more means the header cannot be trusted.
void KeyTable::headerRepair() {
   Header& h = header();
   U64 const fileCapacity = (bytes_ - sizeof(Header)) / sizeof(Record);
   if (h.check == headerCheckOf(h)) {
      if (h.version != kVersion) {
         throw KeyTableRefused("key table " + path_ + ": version " + std::to_string(h.version) +
                               " is not the supported version " + std::to_string(kVersion));
      }
      if (h.capacity != fileCapacity) {
         throw KeyTableRefused("key table " + path_ + ": file of " + std::to_string(bytes_) +
                               " bytes does not hold its capacity " + std::to_string(h.capacity));
      }
   } else {
      Header fixed = h;
      fixed.version = kVersion;
      fixed.capacity = fileCapacity;
      if (headerCheckOf(fixed) == h.check) {
         note("header version or capacity damaged; restored from the file size");
         if (!readOnly_) chip::crashPoint();
         store32(&h.version, kVersion);
         store64(&h.capacity, fileCapacity);
      } else if (h.version == kVersion && h.capacity == fileCapacity) {
         note("header check damaged; recomputed");
         if (!readOnly_) chip::crashPoint();
         store32(&h.check, headerCheckOf(h));
      } else {
         throw KeyTableRefused("key table " + path_ +
                               ": header fails its check in more than one field");
      }
   }
   if (h.ownerCheck != ownerCheckOf(h.owner)) {
      // A bind cut short by a kill, or damage: either way the identity is not known.
      note("owner " + std::to_string(h.owner) + " fails its check; table left unbound");
      if (!readOnly_) chip::crashPoint();
      store64(&h.owner, 0);
      if (!readOnly_) chip::crashPoint();
      store32(&h.ownerCheck, 0);
   }
}

// Every slot once: damaged records cleared, handle changes cut short rolled back, and the
// header's derived fields set from what is left.
void KeyTable::recordsScan() {
   Header& h = header();
   U64 const cap = h.capacity;
   U64 records = 0, cleared = 0, rolledBack = 0;
   EntryKey largest = 0;
   U32 newestGeneration = 0;
   std::string clearedKeys;
   for (U64 slot = 0; slot < cap; ++slot) {
      Record& r = slotRecord(slot);
      if (isZero(r)) continue;
      bool rolled = false;
      if (!isValid(r, slot)) {
         Record old = r;
         old.sdkEntryHandle = r.undoHandle;
         if (isValid(old, slot)) {
            if (!readOnly_) chip::crashPoint();
            store64(reinterpret_cast<char*>(&r) + 8, wordOf(old, 1));
            rolled = true;
         } else {
            if (++cleared <= 8)
               clearedKeys += (cleared == 1 ? " " : ", ") + std::to_string(slot + 1);
            clearSlot(slot);
            continue;
         }
      }
      if (r.undoHandle != 0) {
         rolled = true;
         if (!readOnly_) chip::crashPoint();
         store32(&r.undoHandle, 0);
      }
      if (rolled) ++rolledBack;
      ++records;
      largest = slot + 1;
      newestGeneration = std::max(newestGeneration, r.generation);
   }
   if (cleared != 0) {
      note("cleared " + std::to_string(cleared) + " damaged record(s): key(s)" + clearedKeys +
           (cleared > 8 ? ", ..." : ""));
   }
   if (rolledBack != 0) {
      note("finished " + std::to_string(rolledBack) + " interrupted handle change(s)");
   }
   if (h.count != records) {
      note("record count " + std::to_string(h.count) + " in the header corrected to " +
           std::to_string(records));
      countIs(records);
   }
   if (h.highestKey != largest) {
      note("highest key " + std::to_string(h.highestKey) + " in the header corrected to " +
           std::to_string(largest));
      highestIs(largest);
   }
   if (h.generation < newestGeneration) {
      note("generation " + std::to_string(h.generation) + " in the header raised to " +
           std::to_string(newestGeneration));
      if (!readOnly_) chip::crashPoint();
      store32(&h.generation, newestGeneration);
   }
}

void KeyTable::note(std::string line) {
   notes_.push_back("key table " + path_ + ": " + line +
                    (readOnly_ ? " (read-only: not saved)" : ""));
}

std::unique_ptr<KeyTable> KeyTable::openOrCreate(std::string const& path, U32 capacity, U64 owner) {
   if (::access(path.c_str(), F_OK) != 0) return create(path, capacity, owner);
   std::unique_ptr<KeyTable> t = open(path);
   if (owner != 0 && t->owner() != owner) {
      if (t->owner() != 0) {
         throw KeyTableRefused("key table " + path + ": belongs to chip " +
                               std::to_string(t->owner()) + ", not to chip " +
                               std::to_string(owner));
      }
      t->ownerIs(owner);
   }
   return t;
}

void KeyTable::destroy(std::string const& path) {
   if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      throw KeyTableError("key table " + path + ": cannot remove: " + errnoText());
   }
}

KeyTable::Header& KeyTable::header() const {
   return *static_cast<Header*>(base_);
}

KeyTable::Record& KeyTable::slotRecord(U64 slot) const {
   return *reinterpret_cast<Record*>(static_cast<char*>(base_) + recordOffset(slot));
}

U64 KeyTable::capacity() const {
   return header().capacity;
}
U64 KeyTable::count() const {
   return header().count;
}
KeyTable::EntryKey KeyTable::highestKey() const {
   return header().highestKey;
}
U64 KeyTable::owner() const {
   return header().owner;
}

void KeyTable::checkWritable(char const* what) const {
   if (readOnly_) throw KeyTableError("key table " + path_ + ": " + what + ": opened read-only");
}

// A kill between the two stores leaves an owner that fails its check, which open unbinds.
void KeyTable::ownerIs(U64 owner) {
   checkWritable("bind owner");
   Header& h = header();
   if (h.owner == owner && h.ownerCheck == ownerCheckOf(owner)) return;
   chip::crashPoint();
   store64(&h.owner, owner);
   chip::crashPoint();
   store32(&h.ownerCheck, ownerCheckOf(owner));
}

void KeyTable::countIs(U64 count) {
   if (!readOnly_) chip::crashPoint();
   store64(&header().count, count);
}

void KeyTable::highestIs(EntryKey key) {
   if (!readOnly_) chip::crashPoint();
   store64(&header().highestKey, key);
}

KeyTable::SlotState KeyTable::slotState(U64 slot) const {
   Record const& r = slotRecord(slot);
   if (isZero(r)) return SlotState::free;
   return isValid(r, slot) ? SlotState::used : SlotState::damaged;
}

void KeyTable::checkKey(EntryKey key, char const* what) const {
   if (key == 0 || key > capacity()) {
      throw KeyTableError("key table " + path_ + ": " + what + ": key " + std::to_string(key) +
                          " is outside 1.." + std::to_string(capacity()));
   }
}

Pemra::String KeyTable::damageText(U64 slot) const {
   return "key table " + path_ + ": record in slot " + std::to_string(slot) + " (key " +
          std::to_string(slot + 1) + ") fails its check";
}

KeyTable::EntryConfig KeyTable::record(EntryKey key) const {
   checkKey(key, "record");
   switch (slotState(key - 1)) {
      case SlotState::free:
         throw KeyTableError("key table " + path_ + ": key " + std::to_string(key) +
                             " has no record");
      case SlotState::damaged:
         throw Pemra::CorruptionDetectedException(damageText(key - 1));
      case SlotState::used:
         break;
   }
   Record const& r = slotRecord(key - 1);
   return EntryConfig(r.key, r.opId, r.sdkEntryHandle, r.flags, r.generation);
}

KeyTable::EntryConfig KeyTable::recordAsStored(EntryKey key) const {
   checkKey(key, "record");
   Record const& r = slotRecord(key - 1);
   return EntryConfig(r.key, r.opId, r.sdkEntryHandle, r.flags, r.generation);
}

void KeyTable::recordIs(EntryConfig const& config) {
   checkWritable("write");
   checkKey(config.key, "write");
   U64 slot = config.key - 1;
   SlotState was = slotState(slot);
   if (was == SlotState::damaged) throw Pemra::CorruptionDetectedException(damageText(slot));
   Record n{};
   n.key = config.key;
   n.opId = config.opId;
   n.sdkEntryHandle = config.sdkEntryHandle;
   n.generation = config.generation;
   n.flags = config.flags;
   n.state = kUsed;
   n.checksum = recordCheckOf(n, slot);
   Record& r = slotRecord(slot);
   char* at = reinterpret_cast<char*>(&r);
   if (was == SlotState::free) {
      // Checksum last: until it lands the slot fails its check and open clears it.
      chip::crashPoint();
      for (int i = 0; i < 3; ++i)
         store64(at + 8 * i, wordOf(n, i));
      chip::crashPoint();
      store64(at + 24, wordOf(n, 3));
      countIs(header().count + 1);
      if (config.key > header().highestKey) highestIs(config.key);
      return;
   }
   if (std::memcmp(&r, &n, sizeof n) == 0) return;
   if (wordOf(r, 0) == wordOf(n, 0) && wordOf(r, 2) == wordOf(n, 2) && r.opId == n.opId) {
      // Park the old handle, swap the handle, then seal with the new checksum: a record
      // caught in between still checks with its undo handle and open rolls it back.
      Record parked = r;
      parked.undoHandle = r.sdkEntryHandle;
      chip::crashPoint();
      store64(at + 24, wordOf(parked, 3));
      chip::crashPoint();
      store64(at + 8, wordOf(n, 1));
      chip::crashPoint();
      store64(at + 24, wordOf(n, 3));
      return;
   }
   // Other fields change: the checksum goes first so that the slot reads as damaged, never
   // as a mix of the two records.
   chip::crashPoint();
   store64(at + 24, 0);
   chip::crashPoint();
   for (int i = 0; i < 3; ++i)
      store64(at + 8 * i, wordOf(n, i));
   chip::crashPoint();
   store64(at + 24, wordOf(n, 3));
}

// Checksum first, so a clear cut short reads as damaged and open finishes it.
void KeyTable::clearSlot(U64 slot) {
   char* at = reinterpret_cast<char*>(&slotRecord(slot));
   if (!readOnly_) chip::crashPoint();
   store64(at + 24, 0);
   for (int i = 0; i < 3; ++i)
      store64(at + 8 * i, 0);
}

void KeyTable::recordDel(EntryKey key) {
   checkWritable("clear");
   checkKey(key, "clear");
   Record& r = slotRecord(key - 1);
   if (isZero(r)) {
      throw KeyTableError("key table " + path_ + ": key " + std::to_string(key) + " has no record");
   }
   clearSlot(key - 1);
   if (header().count > 0) countIs(header().count - 1);
   if (key == header().highestKey) highestIs(takenKeyBelow(key));
}

U64 KeyTable::nextTakenSlot(U64 slot) const {
   return nextTakenSlot(slot, capacity());
}

U64 KeyTable::nextTakenSlot(U64 slot, U64 cap) const {
   while (slot < cap && isZero(slotRecord(slot)))
      ++slot;
   return slot < cap ? slot : cap;
}

U64 KeyTable::nextFreeSlot(U64 slot) const {
   U64 cap = capacity();
   while (slot < cap && !isZero(slotRecord(slot)))
      ++slot;
   return slot < cap ? slot : cap;
}

KeyTable::EntryKey KeyTable::takenKeyBelow(EntryKey key) const {
   if (key == 0) return 0;
   for (EntryKey k = std::min<EntryKey>(key - 1, capacity()); k > 0; --k) {
      if (!isZero(slotRecord(k - 1))) return k;
   }
   return 0;
}

U32 KeyTable::generationIs() {
   checkWritable("generation");
   U32 g = header().generation + 1;
   if (g == 0) g = 1;
   chip::crashPoint();
   store32(&header().generation, g);
   return g;
}

// Allowed read-only too: the private copy is repaired, the file is not.
std::vector<U64> KeyTable::repair() {
   std::vector<U64> dropped;
   U64 records = 0;
   EntryKey largest = 0;
   for (U64 slot = nextTakenSlot(0); slot < capacity(); slot = nextTakenSlot(slot + 1)) {
      if (slotState(slot) == SlotState::used) {
         ++records;
         largest = slot + 1;
      } else {
         clearSlot(slot);
         dropped.push_back(slot);
      }
   }
   if (header().count != records) countIs(records);
   if (header().highestKey != largest) highestIs(largest);
   return dropped;
}

}  // namespace TwiceNatAgent
