// A chip's file: creation, opening (the header judged and repaired), removal, and the private
// chip in memory.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "Stow/File.h"
#include "chip/Chip.h"
#include "chip/ChipException.h"
#include "chip/ChipLayout.h"
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

[[noreturn]] void refuse(std::string const& path, std::string const& what,
                         bool repairable = false) {
   throw ChipStateRefused(quoted(path) + " " + what, repairable);
}

// The store core's failures as the chip's own.
template <class F>
auto io(std::string const& path, F&& f) {
   try {
      return f();
   } catch (Stow::IoError const& e) {
      if (e.code() == EISDIR) refuse(path, "is not a regular file");
      throw ChipException(quoted(path) + " " + e.what());
   }
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

bool sound(FixedHeader const& f) {
   return f.magic == kMagic && layout::fixedCheck(f) == f.check;
}

// What the two copies of the fixed header still identify, when neither is sound as it lies:
// the magic number restored and, word by word where they differ, either copy's word, until
// the check word agrees. A wrong candidate passes only by a chance of 2^-32 per try.
bool rebuilt(FixedHeader const& a, FixedHeader const& b, FixedHeader* out) {
   constexpr unsigned kWords = sizeof(FixedHeader) / 4;
   uint32_t wa[kWords], wb[kWords];
   std::memcpy(wa, &a, sizeof wa);
   std::memcpy(wb, &b, sizeof wb);
   unsigned differ[kWords];
   unsigned n = 0;
   for (unsigned i = 2; i < kWords; ++i)  // words 0 and 1 are the magic number
      if (wa[i] != wb[i]) differ[n++] = i;
   if (n > 8) return false;  // the copies have little in common: nothing is identified
   for (uint32_t pick = 0; pick < (1u << n); ++pick) {
      uint32_t w[kWords];
      std::memcpy(w, wa, sizeof w);
      for (unsigned k = 0; k < n; ++k)
         if (pick >> k & 1) w[differ[k]] = wb[differ[k]];
      FixedHeader f;
      std::memcpy(&f, w, sizeof f);
      f.magic = kMagic;
      if (sound(f)) {
         *out = f;
         return true;
      }
   }
   return false;
}

// What is wrong with a sound fixed header; empty when nothing is.
std::string fixedProblem(FixedHeader const& h) {
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
   return {};
}

}  // namespace

Chip::Chip(Stow::Mapping map, std::string path, bool readOnly)
    : map_(std::move(map)), path_(std::move(path)), readOnly_(readOnly) {
   bind();
}

Chip::~Chip() {
   detail::detachChip(this);
}

void Chip::bind() {
   char* base = map_.base();
   hdr_ = reinterpret_cast<Header*>(base);
   layout::Offsets l = offsetsOf(hdr_->fixed.capacity, hdr_->fixed.buckets);
   slots_ = reinterpret_cast<Slot*>(base + l.slots);
   // The file keeps room for the indices where earlier files kept them; they live here now.
   indices_.assign(2 * size_t(hdr_->fixed.buckets), 0);
   keyIndex_ = indices_.data();
   handleIndex_ = indices_.data() + hdr_->fixed.buckets;
   mask_ = hdr_->fixed.buckets - 1;
   profile_ = profileOf(hdr_->fixed);
}

// Made aside and renamed into place, so that a kill leaves the old file or the new one, with
// its space reserved, so that a full file system refuses here and never under a store.
std::unique_ptr<Chip> Chip::create(std::string const& path, Profile const& profile) {
   validate(profile);
   layout::Offsets l = offsetsOf(profile.capacity, bucketsFor(profile.capacity));
   Stow::Mapping map = io(path, [&] {
      return Stow::createFile(path, l.size, true, [&](char* base) {
         initHeader(reinterpret_cast<Header*>(base), profile, l.size);
      });
   });
   return std::unique_ptr<Chip>(new Chip(std::move(map), path, false));
}

void Chip::destroy(std::string const& path) {
   try {
      Stow::remove({path, path + ".new"});  // and what a create cut short left
   } catch (Stow::IoError const& e) {
      if (e.code() == EPERM)
         throw ChipStateRefused(quoted(path) + " cannot be removed: " + e.what());
      throw ChipException(quoted(path) + ": " + e.what());
   }
}

std::unique_ptr<Chip> Chip::createPrivate(Profile const& profile) {
   validate(profile);
   layout::Offsets l = offsetsOf(profile.capacity, bucketsFor(profile.capacity));
   Stow::Mapping map = io("(private)", [&] { return Stow::Mapping(l.size); });
   initHeader(reinterpret_cast<Header*>(map.base()), profile, l.size);
   return std::unique_ptr<Chip>(new Chip(std::move(map), {}, false));
}

std::unique_ptr<Chip> Chip::open(std::string const& path, ChipAccess access, ChipRepair repair) {
   bool const ro = access == ChipAccess::readOnly;
   bool const repairing = repair == ChipRepair::header;
   Stow::File file = io(path, [&] { return Stow::File::open(path, !ro); });
   struct stat const st = io(path, [&] { return file.status(); });
   if (!S_ISREG(st.st_mode)) refuse(path, "is not a regular file");
   if (!ro && st.st_uid != ::geteuid())
      refuse(path, "is owned by uid " + std::to_string(st.st_uid));
   size_t const size = size_t(st.st_size);

   // The header is judged before anything is mapped: one sound copy is enough, and the other
   // is rewritten from it. Anything less a start leaves to a repair.
   Header head;
   if (size < sizeof head || !io(path, [&] { return file.readAt(&head, sizeof head, 0); })) {
      refuse(path, "is too short to be a chip (" + std::to_string(size) + " bytes)");
   }
   bool const firstOk = sound(head.fixed);
   bool const secondOk = sound(head.fixedCopy);
   FixedHeader fixed = firstOk ? head.fixed : head.fixedCopy;
   std::string headerNote;
   if (head.fixed.magic != kMagic || (!firstOk && !secondOk)) {
      FixedHeader found;
      bool const identified =
          secondOk ? (found = head.fixedCopy, true) : rebuilt(head.fixed, head.fixedCopy, &found);
      if (!identified && head.fixed.magic != kMagic) refuse(path, "is not a chip file (bad magic)");
      if (!identified) refuse(path, "has a damaged header (both copies)");
      if (!repairing) {
         refuse(path,
                head.fixed.magic != kMagic
                    ? "has a damaged magic number, while the rest of its header identifies a chip"
                    : "has a damaged header (both copies), while together they identify a chip",
                true);
      }
      fixed = found;
      headerNote = secondOk ? "first copy of the header (its magic number) was damaged, rewritten "
                              "from the second"
                            : "both copies of the header were damaged, rebuilt from what is "
                              "left of them";
   } else if (!firstOk || !secondOk) {
      headerNote = std::string(firstOk ? "second" : "first") +
                   " copy of the header was damaged, rewritten from the other";
   }
   bool repaired = !headerNote.empty() && (head.fixed.magic != kMagic || (!firstOk && !secondOk));
   std::string problem = fixedProblem(fixed);
   if (!problem.empty()) refuse(path, problem);
   size_t const want = offsetsOf(fixed.capacity, fixed.buckets).size;
   std::string sizeNote;
   if (size != want) {
      std::string what =
          "has " + std::to_string(size) + " bytes where its profile needs " + std::to_string(want);
      if (!repairing) refuse(path, what, true);
      size_t const slots = layout::align64(sizeof(Header));
      sizeNote = what + ": brought back to its size";
      repaired = true;
      if (size < offsetsOf(fixed.capacity, fixed.buckets).keyIndex) {
         size_t const kept = size < slots ? 0 : (size - slots) / sizeof(Slot);
         sizeNote += "; slots " + std::to_string(kept) + " on were cut off and read as free";
      }
   }

   // A writable open maps the file shared, its space reserved; a read-only one maps a private
   // copy-on-write view, so that the repairs of the open stay in memory (a file of another size
   // is read into memory instead).
   Stow::Mapping map = io(path, [&] {
      if (!ro) {
         if (size > want) file.truncate(want);
         file.reserve(want);
         return Stow::Mapping(file, want, Stow::Mapping::Kind::shared);
      }
      if (size == want) return Stow::Mapping(file, want, Stow::Mapping::Kind::privateCopy);
      Stow::Mapping copy(want);
      file.readAt(copy.base(), std::min(size, want), 0);
      return copy;
   });
   auto* hdr = reinterpret_cast<Header*>(map.base());
   if (!headerNote.empty() || std::memcmp(&hdr->fixed, &hdr->fixedCopy, sizeof fixed) != 0) {
      // A kill between the two stores leaves one sound copy.
      map.store(hdr->fixed, fixed);
      map.store(hdr->fixedCopy, fixed);
   }
   std::unique_ptr<Chip> chip(new Chip(std::move(map), path, ro));
   if (!headerNote.empty()) chip->damage(headerNote);
   if (!sizeNote.empty()) chip->damage(sizeNote);
   chip->needsRepair_ = repaired;
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
   c->map_.store(c->hdr_->fixed, f);  // a kill between the copies leaves one sound copy
   c->map_.store(c->hdr_->fixedCopy, f);
}

}  // namespace chip
