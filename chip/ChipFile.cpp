// A chip's file: creation, opening with repair, removal, and the private chip in memory.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "chip/Chip.h"
#include "chip/ChipException.h"
#include "chip/ChipLayout.h"
#include "chip/CrashPoint.h"
#include "chip/Devices.h"

namespace chip {

namespace {

using layout::bucketsFor;
using layout::offsetsOf;

uint32_t flagsOf(Profile const& p) {
   return (p.vrfKeyField ? kVrfKeyField : 0) | (p.bfrt ? kBfrt : 0) |
          (p.actionProfileTable ? kActionProfileTable : 0);
}

Profile profileOf(FixedHeader const& h) {
   Profile p;
   p.capacity = h.capacity;
   p.pipes = h.pipes;
   p.vrfKeyField = h.profileFlags & kVrfKeyField;
   p.bfrt = h.profileFlags & kBfrt;
   p.actionProfileTable = h.profileFlags & kActionProfileTable;
   return p;
}

std::string quoted(std::string const& path) {
   return "chip file '" + path + "'";
}

[[noreturn]] void failErrno(std::string const& path, char const* op) {
   throw ChipException(quoted(path) + " cannot be " + op + ": " + std::strerror(errno));
}

[[noreturn]] void refuse(std::string const& path, std::string const& what) {
   throw ChipStateRefused(quoted(path) + " " + what);
}

uint64_t newIdentity() {
   std::random_device rd;
   uint64_t id = 0;
   while (id == 0)
      id = uint64_t(rd()) << 32 | rd();
   return id;
}

void initHeader(Header* h, Profile const& p, size_t size) {
   FixedHeader& f = h->fixed;
   f.version = kVersion;
   f.headerSize = sizeof(Header);
   f.slotSize = sizeof(Slot);
   f.capacity = p.capacity;
   f.pipes = p.pipes;
   f.profileFlags = flagsOf(p);
   f.buckets = bucketsFor(p.capacity);
   f.fileSize = size;
   f.identity = newIdentity();
   f.magic = kMagic;
   f.check = layout::fixedCheck(f);
   h->fixedCopy = f;
   h->scope = kScopeAllWord;
   h->count = 0;
   h->nextHandle = h->nextHandleCopy = kFirstHandle;
   h->freeHead = kNoSlot;
   h->highWater = 0;
   h->intent = Intent{};
   for (uint32_t i = 0; i <= kMaxPipes; ++i) {
      h->defaults[i] = ActionRec{};
      h->defaultChecks[i] = layout::defaultCheck(i, h->defaults[i]);
   }
}

// What is wrong with a fixed header for a file of `fileSize` bytes; empty when nothing is.
std::string fixedProblem(FixedHeader const& h, size_t fileSize) {
   if (h.version != kVersion) {
      return "has version " + std::to_string(h.version) + ", this chip model reads version " +
             std::to_string(kVersion);
   }
   if (h.headerSize != sizeof(Header) || h.slotSize != sizeof(Slot)) {
      return "was written with a different layout (header " + std::to_string(h.headerSize) +
             ", slot " + std::to_string(h.slotSize) + " bytes)";
   }
   if (h.capacity == 0 || h.capacity > kMaxCapacity || h.pipes == 0 || h.pipes > kMaxPipes ||
       h.buckets != bucketsFor(h.capacity) || (h.profileFlags & ~7u) != 0 ||
       ((h.profileFlags & kActionProfileTable) && !(h.profileFlags & kBfrt)) || h.identity == 0) {
      return "has an invalid profile";
   }
   size_t want = offsetsOf(h.capacity, h.buckets).size;
   if (h.fileSize != want) {
      return "records a size of " + std::to_string(h.fileSize) + " bytes where its profile needs " +
             std::to_string(want);
   }
   if (fileSize != want) {
      return "has " + std::to_string(fileSize) + " bytes where its profile needs " +
             std::to_string(want);
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

Chip::Chip(std::unique_ptr<Mapping> map, std::string path, bool persistent, bool readOnly)
    : map_(std::move(map)), path_(std::move(path)), persistent_(persistent), readOnly_(readOnly) {
   bind();
}

Chip::~Chip() {
   detail::detachChip(this);
}

void Chip::bind() {
   auto* base = static_cast<char*>(map_->base);
   hdr_ = reinterpret_cast<Header*>(base);
   layout::Offsets l = offsetsOf(hdr_->fixed.capacity, hdr_->fixed.buckets);
   slots_ = reinterpret_cast<Slot*>(base + l.slots);
   keyIndex_ = reinterpret_cast<uint32_t*>(base + l.keyIndex);
   handleIndex_ = reinterpret_cast<uint32_t*>(base + l.handleIndex);
   mask_ = hdr_->fixed.buckets - 1;
   profile_ = profileOf(hdr_->fixed);
}

std::unique_ptr<Chip> Chip::create(std::string const& path, Profile const& profile) {
   validate(profile);
   layout::Offsets l = offsetsOf(profile.capacity, bucketsFor(profile.capacity));
   // Made aside and renamed into place, so that a kill leaves the old file or the new one.
   std::string const fresh = path + ".new";
   if (::unlink(fresh.c_str()) != 0 && errno != ENOENT) failErrno(fresh, "replaced");
   int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
   if (fd < 0) failErrno(path, "created");
   auto map = std::make_unique<Mapping>();
   if (::ftruncate(fd, off_t(l.size)) == 0) {
      map->base = ::mmap(nullptr, l.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
   }
   int e = errno;
   ::close(fd);
   if (map->base == MAP_FAILED) {
      ::unlink(fresh.c_str());
      errno = e;
      failErrno(path, "sized and mapped");
   }
   map->size = l.size;
   crashPoint();
   initHeader(static_cast<Header*>(map->base), profile, l.size);
   if (::rename(fresh.c_str(), path.c_str()) != 0) {
      e = errno;
      ::unlink(fresh.c_str());
      errno = e;
      failErrno(path, "replaced");
   }
   return std::unique_ptr<Chip>(new Chip(std::move(map), path, true, false));
}

void Chip::destroy(std::string const& path) {
   if (::unlink(path.c_str()) != 0 && errno != ENOENT) failErrno(path, "removed");
   ::unlink((path + ".new").c_str());  // what a create cut short left, if anything
}

std::unique_ptr<Chip> Chip::createPrivate(Profile const& profile) {
   validate(profile);
   layout::Offsets l = offsetsOf(profile.capacity, bucketsFor(profile.capacity));
   auto map = std::make_unique<Mapping>();
   map->base = ::mmap(nullptr, l.size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
   if (map->base == MAP_FAILED) {
      throw ChipException(std::string("private chip cannot be mapped: ") + std::strerror(errno));
   }
   map->size = l.size;
   initHeader(static_cast<Header*>(map->base), profile, l.size);
   return std::unique_ptr<Chip>(new Chip(std::move(map), {}, false, false));
}

std::unique_ptr<Chip> Chip::open(std::string const& path, ChipAccess access) {
   bool const ro = access == ChipAccess::readOnly;
   int fd = ::open(path.c_str(), (ro ? O_RDONLY : O_RDWR) | O_CLOEXEC);
   if (fd < 0 && errno == EISDIR) refuse(path, "is not a regular file");
   if (fd < 0) failErrno(path, "opened");
   struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
   } closer{fd};
   struct stat st {};
   if (::fstat(fd, &st) != 0) failErrno(path, "read");
   if (!S_ISREG(st.st_mode)) refuse(path, "is not a regular file");
   if (!ro && st.st_uid != ::geteuid())
      refuse(path, "is owned by uid " + std::to_string(st.st_uid));
   size_t const size = size_t(st.st_size);
   // The header is judged before anything is mapped.
   Header head;
   if (size < sizeof head || ::pread(fd, &head, sizeof head, 0) != ssize_t(sizeof head)) {
      refuse(path, "is too short to be a chip (" + std::to_string(size) + " bytes)");
   }
   if (head.fixed.magic != kMagic) refuse(path, "is not a chip file (bad magic)");
   // One copy of the fixed header with a sound check word is enough; the other is rewritten.
   bool firstOk = layout::fixedCheck(head.fixed) == head.fixed.check;
   bool secondOk =
       head.fixedCopy.magic == kMagic && layout::fixedCheck(head.fixedCopy) == head.fixedCopy.check;
   if (!firstOk && !secondOk) refuse(path, "has a damaged header (both copies)");
   FixedHeader const fixed = firstOk ? head.fixed : head.fixedCopy;
   std::string problem = fixedProblem(fixed, size);
   if (!problem.empty()) refuse(path, problem);

   auto map = std::make_unique<Mapping>();
   // Read-only: a private copy-on-write view, so that the repairs of the open stay in memory.
   map->base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, ro ? MAP_PRIVATE : MAP_SHARED, fd, 0);
   if (map->base == MAP_FAILED) failErrno(path, "mapped");
   map->size = size;
   auto* hdr = static_cast<Header*>(map->base);
   std::vector<std::string> notes;
   if (!firstOk || !secondOk || std::memcmp(&hdr->fixed, &hdr->fixedCopy, sizeof fixed) != 0) {
      notes.push_back(quoted(path) + ": " + (firstOk ? "second" : "first") +
                      " copy of the header was damaged, rewritten from the other");
      if (!ro) crashPoint();
      hdr->fixed = hdr->fixedCopy = fixed;
   }
   std::unique_ptr<Chip> chip(new Chip(std::move(map), path, !ro, ro));
   chip->notes_ = std::move(notes);
   chip->recover();
   return chip;
}

void Chip::profileFlagsIs(std::string const& path, Profile const& profile) {
   validate(profile);
   auto c = open(path);
   if (profile.capacity != c->capacity() || profile.pipes != c->pipes()) {
      throw ChipException(quoted(path) + " keeps its capacity and pipes");
   }
   FixedHeader f = c->hdr_->fixed;
   f.profileFlags = flagsOf(profile);
   f.check = layout::fixedCheck(f);
   crashPoint();
   c->hdr_->fixed = f;  // a kill between the copies leaves one sound copy
   crashPoint();
   c->hdr_->fixedCopy = f;
}

}  // namespace chip
