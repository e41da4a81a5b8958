#include "agent/KeyTable.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

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
   U32 reserved0;
   U64 reserved1;
};

struct KeyTable::Record {
   U64 key;
   U32 opId;
   U32 sdkEntryHandle;
   U32 generation;
   U16 flags;
   U8 state;
   U8 reserved0;
   U32 reserved1;
   U32 checksum;  // over every byte above and the slot index
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

Pemra::String errnoText() {
   return std::strerror(errno);
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

template <class R>
U32 recordCheckOf(R const& r, U64 slot) {
   return fnv(&slot, sizeof slot, fnv(&r, offsetof(R, checksum)));
}

template <class R>
bool isZero(R const& r) {
   static_assert(sizeof(R) == 4 * sizeof(U64));
   U64 w[4];
   std::memcpy(w, &r, sizeof w);
   return (w[0] | w[1] | w[2] | w[3]) == 0;
}

}  // namespace

KeyTable::KeyTable(Pemra::String path, int fd, void* base, std::size_t bytes)
    : path_(std::move(path)), fd_(fd), base_(base), bytes_(bytes) {
   static_assert(sizeof(Header) == 64 && sizeof(Record) == 32);
}

KeyTable::~KeyTable() {
   ::munmap(base_, bytes_);
   ::close(fd_);
}

std::unique_ptr<KeyTable> KeyTable::mapFile(Pemra::String const& path, int fd, std::size_t bytes) {
   void* base = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
   if (base == MAP_FAILED) {
      Pemra::String why = errnoText();
      ::close(fd);
      throw KeyTableError("key table " + path + ": cannot map " + std::to_string(bytes) +
                          " bytes: " + why);
   }
   return std::unique_ptr<KeyTable>(new KeyTable(path, fd, base, bytes));
}

std::unique_ptr<KeyTable> KeyTable::create(Pemra::String const& path, U64 capacity) {
   if (capacity == 0 || capacity > kMaxCapacity) {
      throw KeyTableError("key table " + path + ": capacity " + std::to_string(capacity) +
                          " is outside 1.." + std::to_string(kMaxCapacity));
   }
   int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
   if (fd < 0) throw KeyTableError("key table " + path + ": cannot create: " + errnoText());
   std::size_t bytes = recordOffset(capacity);
   if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
      Pemra::String why = errnoText();
      ::close(fd);
      ::unlink(path.c_str());
      throw KeyTableError("key table " + path + ": cannot size: " + why);
   }
   std::unique_ptr<KeyTable> t;
   try {
      t = mapFile(path, fd, bytes);
   } catch (...) {
      ::unlink(path.c_str());
      throw;
   }
   Header& h = t->header();
   h.magic = kMagic;
   h.version = kVersion;
   h.headerBytes = sizeof(Header);
   h.recordBytes = sizeof(Record);
   h.capacity = capacity;
   h.check = headerCheckOf(h);
   return t;
}

std::unique_ptr<KeyTable> KeyTable::open(Pemra::String const& path) {
   int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
   if (fd < 0) throw KeyTableError("key table " + path + ": cannot open: " + errnoText());
   struct stat st {};
   if (::fstat(fd, &st) != 0) {
      Pemra::String why = errnoText();
      ::close(fd);
      throw KeyTableError("key table " + path + ": cannot stat: " + why);
   }
   auto size = static_cast<std::size_t>(st.st_size);
   if (size < sizeof(Header)) {
      ::close(fd);
      throw KeyTableError("key table " + path + ": file of " + std::to_string(size) +
                          " bytes is too short for a header");
   }
   std::unique_ptr<KeyTable> t = mapFile(path, fd, size);
   Header const& h = t->header();
   auto refuse = [&](Pemra::String const& why) {
      throw KeyTableError("key table " + path + ": " + why);
   };
   if (h.magic != kMagic) refuse("not a key table (bad magic)");
   if (h.version != kVersion) {
      refuse("version " + std::to_string(h.version) + " is not the supported version " +
             std::to_string(kVersion));
   }
   if (h.headerBytes != sizeof(Header) || h.recordBytes != sizeof(Record)) {
      refuse("header or record size does not match this build");
   }
   if (h.check != headerCheckOf(h)) refuse("header fails its check");
   if (h.capacity == 0 || h.capacity > kMaxCapacity) {
      refuse("capacity " + std::to_string(h.capacity) + " is out of range");
   }
   if (size != recordOffset(h.capacity)) {
      refuse("file of " + std::to_string(size) + " bytes does not hold capacity " +
             std::to_string(h.capacity));
   }
   if (h.count > h.capacity)
      refuse("record count " + std::to_string(h.count) + " exceeds capacity");
   if (h.highestKey > h.capacity) {
      refuse("highest-key mark " + std::to_string(h.highestKey) + " exceeds capacity");
   }
   return t;
}

std::unique_ptr<KeyTable> KeyTable::openOrCreate(Pemra::String const& path, U64 capacity) {
   if (::access(path.c_str(), F_OK) == 0) return open(path);
   return create(path, capacity);
}

void KeyTable::destroy(Pemra::String const& path) {
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

void KeyTable::highestKeyIs(EntryKey key) {
   if (key > capacity()) {
      throw KeyTableError("key table " + path_ + ": highest-key mark " + std::to_string(key) +
                          " exceeds capacity " + std::to_string(capacity()));
   }
   header().highestKey = key;
}

KeyTable::SlotState KeyTable::slotState(U64 slot) const {
   Record const& r = slotRecord(slot);
   if (isZero(r)) return SlotState::free;
   if (r.state == kUsed && r.key == slot + 1 && r.checksum == recordCheckOf(r, slot)) {
      return SlotState::used;
   }
   return SlotState::damaged;
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

void KeyTable::recordIs(EntryConfig const& config) {
   checkKey(config.key, "write");
   U64 slot = config.key - 1;
   SlotState was = slotState(slot);
   if (was == SlotState::damaged) throw Pemra::CorruptionDetectedException(damageText(slot));
   Record& r = slotRecord(slot);
   r = Record{};
   r.key = config.key;
   r.opId = config.opId;
   r.sdkEntryHandle = config.sdkEntryHandle;
   r.generation = config.generation;
   r.flags = config.flags;
   r.state = kUsed;
   r.checksum = recordCheckOf(r, slot);
   if (was == SlotState::free) ++header().count;
}

void KeyTable::recordDel(EntryKey key) {
   checkKey(key, "clear");
   Record& r = slotRecord(key - 1);
   if (isZero(r)) {
      throw KeyTableError("key table " + path_ + ": key " + std::to_string(key) + " has no record");
   }
   r = Record{};
   if (header().count > 0) --header().count;
}

U64 KeyTable::nextTakenSlot(U64 slot) const {
   U64 cap = capacity();
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
   U32& g = header().generation;
   if (++g == 0) g = 1;
   return g;
}

std::vector<U64> KeyTable::repair() {
   std::vector<U64> dropped;
   U64 records = 0;
   EntryKey largest = 0;
   for (U64 slot = nextTakenSlot(0); slot < capacity(); slot = nextTakenSlot(slot + 1)) {
      if (slotState(slot) == SlotState::used) {
         ++records;
         largest = slot + 1;
      } else {
         slotRecord(slot) = Record{};
         dropped.push_back(slot);
      }
   }
   header().count = records;
   if (header().highestKey > largest) header().highestKey = largest;
   return dropped;
}

}  // namespace TwiceNatAgent
