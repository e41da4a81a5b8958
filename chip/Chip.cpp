#include "chip/Chip.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "chip/ChipException.h"
#include "chip/Devices.h"

namespace chip {

namespace {

constexpr size_t align64(size_t n) {
   return (n + 63) & ~size_t(63);
}

struct Layout {
   size_t slots;
   size_t keyIndex;
   size_t handleIndex;
   size_t size;
};

Layout layoutOf(uint32_t capacity, uint32_t buckets) {
   Layout l;
   l.slots = align64(sizeof(Header));
   l.keyIndex = align64(l.slots + size_t(capacity) * sizeof(Slot));
   l.handleIndex = align64(l.keyIndex + size_t(buckets) * sizeof(uint32_t));
   l.size = align64(l.handleIndex + size_t(buckets) * sizeof(uint32_t));
   return l;
}

// At most half full, so that linear probing stays short.
uint32_t bucketsFor(uint32_t capacity) {
   uint32_t b = 16;
   while (b < 2 * capacity)
      b <<= 1;
   return b;
}

inline uint64_t mix64(uint64_t x) {
   x ^= x >> 33;
   x *= 0xff51afd7ed558ccdull;
   x ^= x >> 33;
   x *= 0xc4ceb9fe1a85ec53ull;
   x ^= x >> 33;
   return x;
}

inline uint32_t keyHash(Key const& k) {
   uint64_t addrs = uint64_t(k.dip) << 32 | k.sip;
   uint64_t rest = uint64_t(k.pipe) << 16 | k.vrf;
   return uint32_t(mix64(addrs ^ mix64(rest + 0x9e3779b97f4a7c15ull)));
}

inline uint32_t handleHash(uint32_t h) {
   return uint32_t(mix64(h));
}

uint32_t flagsOf(Profile const& p) {
   return (p.vrfKeyField ? kVrfKeyField : 0) | (p.bfrt ? kBfrt : 0) |
          (p.actionProfileTable ? kActionProfileTable : 0);
}

Profile profileOf(Header const& h) {
   Profile p;
   p.capacity = h.capacity;
   p.pipes = h.pipes;
   p.vrfKeyField = h.profileFlags & kVrfKeyField;
   p.bfrt = h.profileFlags & kBfrt;
   p.actionProfileTable = h.profileFlags & kActionProfileTable;
   return p;
}

[[noreturn]] void fail(std::string const& path, std::string const& what) {
   throw ChipException("chip file '" + path + "' " + what);
}

[[noreturn]] void failErrno(std::string const& path, char const* op) {
   fail(path, std::string("cannot be ") + op + ": " + std::strerror(errno));
}

// What is wrong with a header for a file of `fileSize` bytes; empty when nothing is.
std::string headerProblem(Header const& h, size_t fileSize) {
   if (h.magic != kMagic) return "is not a chip file (bad magic)";
   if (h.version != kVersion) {
      return "has version " + std::to_string(h.version) + ", this chip model reads version " +
             std::to_string(kVersion);
   }
   if (h.headerSize != sizeof(Header) || h.slotSize != sizeof(Slot)) {
      return "was written with a different layout (header " + std::to_string(h.headerSize) +
             ", slot " + std::to_string(h.slotSize) + " bytes)";
   }
   if (h.capacity == 0 || h.capacity > kMaxCapacity || h.pipes == 0 || h.pipes > kMaxPipes ||
       h.buckets != bucketsFor(h.capacity) || (h.profileFlags & ~7u) != 0) {
      return "has an invalid profile";
   }
   size_t want = layoutOf(h.capacity, h.buckets).size;
   if (h.fileSize != want || fileSize != want) {
      return "has " + std::to_string(fileSize) + " bytes where its header needs " +
             std::to_string(want);
   }
   if (h.scope > 1 || h.count > h.capacity || h.highWater > h.capacity || h.count > h.highWater ||
       h.nextHandle < kFirstHandle || h.nextHandle > kDefaultHandleBase ||
       (h.freeHead != kNoSlot && h.freeHead >= h.highWater)) {
      return "has a corrupt table state";
   }
   for (ActionRec const& d : h.defaults) {
      if (uint8_t(d.action) > 2) return "has a corrupt default entry";
   }
   return {};
}

}  // namespace

struct Chip::Mapping {
   void* base = MAP_FAILED;
   size_t size = 0;
   ~Mapping() {
      if (base != MAP_FAILED) munmap(base, size);
   }
};

void validate(Profile const& p) {
   if (p.capacity == 0 || p.capacity > kMaxCapacity) {
      throw ChipException("chip capacity " + std::to_string(p.capacity) + " is not in 1.." +
                          std::to_string(kMaxCapacity));
   }
   if (p.pipes == 0 || p.pipes > kMaxPipes) {
      throw ChipException("chip pipes " + std::to_string(p.pipes) + " is not in 1.." +
                          std::to_string(kMaxPipes));
   }
   if (p.actionProfileTable && !p.bfrt) {
      throw ChipException("an action-profile table needs the BfRt runtime");
   }
}

Chip::Chip(std::unique_ptr<Mapping> map, std::string path)
    : map_(std::move(map)), path_(std::move(path)) {
   bind();
}

void Chip::bind() {
   auto* base = static_cast<char*>(map_->base);
   hdr_ = reinterpret_cast<Header*>(base);
   Layout l = layoutOf(hdr_->capacity, hdr_->buckets);
   slots_ = reinterpret_cast<Slot*>(base + l.slots);
   keyIndex_ = reinterpret_cast<uint32_t*>(base + l.keyIndex);
   handleIndex_ = reinterpret_cast<uint32_t*>(base + l.handleIndex);
   mask_ = hdr_->buckets - 1;
   profile_ = profileOf(*hdr_);
}

namespace {
void initHeader(Header* h, Profile const& p, size_t size) {
   h->version = kVersion;
   h->headerSize = sizeof(Header);
   h->slotSize = sizeof(Slot);
   h->capacity = p.capacity;
   h->pipes = p.pipes;
   h->profileFlags = flagsOf(p);
   h->buckets = bucketsFor(p.capacity);
   h->scope = uint32_t(Scope::allPipes);
   h->count = 0;
   h->nextHandle = kFirstHandle;
   h->freeHead = kNoSlot;
   h->highWater = 0;
   h->fileSize = size;
   for (ActionRec& d : h->defaults)
      d = ActionRec{};
   // Last, so that a file cut short while being created is never taken for a chip.
   h->magic = kMagic;
}
}  // namespace

std::unique_ptr<Chip> Chip::create(std::string const& path, Profile const& profile) {
   validate(profile);
   Layout l = layoutOf(profile.capacity, bucketsFor(profile.capacity));
   if (::unlink(path.c_str()) != 0 && errno != ENOENT) failErrno(path, "replaced");
   int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
   if (fd < 0) failErrno(path, "created");
   auto map = std::make_unique<Mapping>();
   if (::ftruncate(fd, off_t(l.size)) != 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      failErrno(path, "sized");
   }
   map->base = ::mmap(nullptr, l.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
   int e = errno;
   ::close(fd);
   if (map->base == MAP_FAILED) {
      errno = e;
      failErrno(path, "mapped");
   }
   map->size = l.size;
   initHeader(static_cast<Header*>(map->base), profile, l.size);
   return std::unique_ptr<Chip>(new Chip(std::move(map), path));
}

std::unique_ptr<Chip> Chip::open(std::string const& path) {
   int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
   if (fd < 0) failErrno(path, "opened");
   struct stat st {};
   if (::fstat(fd, &st) != 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      failErrno(path, "read");
   }
   size_t size = size_t(st.st_size);
   if (size < sizeof(Header)) {
      ::close(fd);
      fail(path, "is too short to be a chip (" + std::to_string(size) + " bytes)");
   }
   auto map = std::make_unique<Mapping>();
   map->base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
   int e = errno;
   ::close(fd);
   if (map->base == MAP_FAILED) {
      errno = e;
      failErrno(path, "mapped");
   }
   map->size = size;
   std::string problem = headerProblem(*static_cast<Header const*>(map->base), size);
   if (!problem.empty()) fail(path, problem);
   std::unique_ptr<Chip> chip(new Chip(std::move(map), path));
   // Every live slot must be reachable through both indices, and the count must agree.
   uint32_t live = 0;
   for (uint32_t s = 0; s < chip->hdr_->highWater; ++s) {
      Slot const& sl = chip->slots_[s];
      if (!sl.handle) continue;
      ++live;
      bool byKey = false;
      bool byHandle = false;
      uint32_t kb = chip->keyBucket(sl.key, &byKey);
      uint32_t hb = chip->handleBucket(sl.handle, &byHandle);
      if (sl.handle < kFirstHandle || sl.handle >= chip->hdr_->nextHandle ||
          uint8_t(sl.act.action) > 2 || !byKey || chip->keyIndex_[kb] != s + 1 || !byHandle ||
          chip->handleIndex_[hb] != s + 1) {
         fail(path, "has a corrupt entry in slot " + std::to_string(s));
      }
   }
   if (live != chip->hdr_->count) fail(path, "has a corrupt entry count");
   return chip;
}

void Chip::destroy(std::string const& path) {
   if (::unlink(path.c_str()) != 0 && errno != ENOENT) failErrno(path, "removed");
}

std::unique_ptr<Chip> Chip::createPrivate(Profile const& profile) {
   validate(profile);
   Layout l = layoutOf(profile.capacity, bucketsFor(profile.capacity));
   auto map = std::make_unique<Mapping>();
   map->base = ::mmap(nullptr, l.size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
   if (map->base == MAP_FAILED) {
      throw ChipException(std::string("private chip cannot be mapped: ") + std::strerror(errno));
   }
   map->size = l.size;
   initHeader(static_cast<Header*>(map->base), profile, l.size);
   return std::unique_ptr<Chip>(new Chip(std::move(map), {}));
}

Chip::~Chip() {
   detail::detachChip(this);
}

uint32_t Chip::keyBucket(Key const& key, bool* found) const {
   for (uint32_t b = keyHash(key) & mask_;; b = (b + 1) & mask_) {
      uint32_t v = keyIndex_[b];
      if (v == 0 || slots_[v - 1].key == key) {
         *found = v != 0;
         return b;
      }
   }
}

uint32_t Chip::handleBucket(uint32_t handle, bool* found) const {
   for (uint32_t b = handleHash(handle) & mask_;; b = (b + 1) & mask_) {
      uint32_t v = handleIndex_[b];
      if (v == 0 || slots_[v - 1].handle == handle) {
         *found = v != 0;
         return b;
      }
   }
}

uint32_t Chip::slotOf(uint32_t handle, uint32_t pipe) const {
   if (handle == 0) return kNoSlot;
   bool found = false;
   uint32_t b = handleBucket(handle, &found);
   if (!found) return kNoSlot;
   uint32_t s = handleIndex_[b] - 1;
   if (pipe != kAnyPipe && slots_[s].key.pipe != pipe) return kNoSlot;
   return s;
}

// Linear probing without tombstones: after emptying a bucket, pull back any later entry of
// the same run whose home bucket lies at or before the hole.
void Chip::bucketErase(uint32_t* index, uint32_t hole, bool byKey) {
   index[hole] = 0;
   for (uint32_t j = (hole + 1) & mask_; index[j] != 0; j = (j + 1) & mask_) {
      Slot const& sl = slots_[index[j] - 1];
      uint32_t home = (byKey ? keyHash(sl.key) : handleHash(sl.handle)) & mask_;
      bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (stays) continue;
      index[hole] = index[j];
      index[j] = 0;
      hole = j;
   }
}

Status Chip::scopeIs(uint32_t scope) {
   if (scope > 1) return status::kInvalidArg;
   if (scope == hdr_->scope) return status::kOk;
   if (hdr_->count != 0) return status::kInUse;
   if (this->scope() == Scope::allPipes) {
      if (hdr_->defaults[kMaxPipes].action != Action::onMiss) return status::kInUse;
   } else {
      for (uint32_t p = 0; p < hdr_->pipes; ++p) {
         if (hdr_->defaults[p].action != Action::onMiss) return status::kInUse;
      }
   }
   hdr_->scope = scope;
   return status::kOk;
}

Status Chip::targetPipe(uint32_t pipeId, uint16_t* pipe) const {
   if (scope() == Scope::allPipes) {
      if (pipeId != kAllPipes) return status::kInvalidArg;
      *pipe = kAllPipes;
   } else {
      if (pipeId >= hdr_->pipes) return status::kInvalidArg;
      *pipe = uint16_t(pipeId);
   }
   return status::kOk;
}

Status Chip::entryAdd(Key const& key, ActionRec const& act, uint32_t* handle) {
   bool found = false;
   uint32_t kb = keyBucket(key, &found);
   if (found) return status::kAlreadyExists;
   if (hdr_->count >= hdr_->capacity) return status::kNoSpace;
   if (hdr_->nextHandle >= kDefaultHandleBase) return status::kNoSysResources;
   uint32_t s;
   if (hdr_->freeHead != kNoSlot) {
      s = hdr_->freeHead;
      hdr_->freeHead = slots_[s].nextFree;
   } else {
      s = hdr_->highWater++;
   }
   Slot& sl = slots_[s];
   sl.handle = hdr_->nextHandle++;
   sl.nextFree = kNoSlot;
   sl.key = key;
   sl.act = act;
   keyIndex_[kb] = s + 1;
   uint32_t hb = handleBucket(sl.handle, &found);
   handleIndex_[hb] = s + 1;
   ++hdr_->count;
   *handle = sl.handle;
   return status::kOk;
}

Status Chip::entryMod(uint32_t handle, ActionRec const& act, uint32_t pipe) {
   uint32_t s = slotOf(handle, pipe);
   if (s == kNoSlot) return status::kNotFound;
   slots_[s].act = act;
   return status::kOk;
}

Status Chip::entryDel(uint32_t handle, uint32_t pipe) {
   uint32_t s = slotOf(handle, pipe);
   if (s == kNoSlot) return status::kNotFound;
   bool found = false;
   bucketErase(handleIndex_, handleBucket(handle, &found), false);
   bucketErase(keyIndex_, keyBucket(slots_[s].key, &found), true);
   slots_[s].handle = 0;
   slots_[s].nextFree = hdr_->freeHead;
   hdr_->freeHead = s;
   --hdr_->count;
   return status::kOk;
}

Status Chip::entryGet(uint32_t handle, EntryView* out, uint32_t pipe) const {
   if (handle >= kDefaultHandleBase) {
      uint32_t i = handle - kDefaultHandleBase;
      uint16_t p = i == kMaxPipes ? kAllPipes : uint16_t(i);
      bool inScope = scope() == Scope::allPipes ? p == kAllPipes : p < hdr_->pipes;
      if (!inScope || (pipe != kAnyPipe && pipe != p)) return status::kNotFound;
      Key key;
      key.pipe = p;
      *out = EntryView{handle, key, hdr_->defaults[defaultIndex(p)], true};
      return status::kOk;
   }
   uint32_t s = slotOf(handle, pipe);
   if (s == kNoSlot) return status::kNotFound;
   *out = EntryView{handle, slots_[s].key, slots_[s].act, false};
   return status::kOk;
}

Status Chip::defaultSet(uint16_t pipe, ActionRec const& act, uint32_t* handle) {
   hdr_->defaults[defaultIndex(pipe)] = act;
   *handle = defaultHandle(pipe);
   return status::kOk;
}

Status Chip::defaultReset(uint16_t pipe) {
   hdr_->defaults[defaultIndex(pipe)] = ActionRec{};
   return status::kOk;
}

uint32_t Chip::count(uint16_t pipe) const {
   uint32_t n = 0;
   forEachEntry([&](EntryView const& e) { n += e.key.pipe == pipe; });
   return n;
}

std::vector<EntryView> Chip::entries(uint16_t pipe) const {
   std::vector<EntryView> out;
   forEachEntry([&](EntryView const& e) {
      if (e.key.pipe == pipe) out.push_back(e);
   });
   std::sort(out.begin(), out.end(),
             [](EntryView const& a, EntryView const& b) { return a.handle < b.handle; });
   return out;
}

}  // namespace chip
