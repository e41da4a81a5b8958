// A key table's file: creation, opening (its header judged before the records), removal.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "KeyTableLayout.h"
#include "Stow/File.h"
#include "agent/KeyTable.h"

namespace TwiceNatAgent {

using namespace keytable;

namespace {

// The store core's failures as the key table's own.
template <class F>
auto io(std::string const& path, F&& f) {
   try {
      return f();
   } catch (Stow::IoError const& e) {
      if (e.code() == ENOENT) throw KeyTableRefused("key table " + path + " is missing", true);
      throw KeyTableError("key table " + path + ": " + e.what());
   }
}

}  // namespace

KeyTable::KeyTable(Pemra::String path, Stow::Mapping map, bool readOnly)
    : path_(std::move(path)), map_(std::move(map)), readOnly_(readOnly) {
   static_assert(sizeof(Header) == 64 && sizeof(Record) == 32);
}

KeyTable::~KeyTable() = default;

std::size_t KeyTable::headerBytes() {
   return sizeof(Header);
}
std::size_t KeyTable::recordBytes() {
   return sizeof(Record);
}

std::unique_ptr<KeyTable> KeyTable::create(std::string const& path, U32 capacity, U64 owner) {
   if (capacity == 0 || capacity > kMaxCapacity) {
      throw KeyTableError("key table " + path + ": capacity " + std::to_string(capacity) +
                          " is outside 1.." + std::to_string(kMaxCapacity));
   }
   Header h{};
   h.magic = kMagic;
   h.version = kVersion;
   h.headerBytes = sizeof(Header);
   h.recordBytes = sizeof(Record);
   h.capacity = capacity;
   h.check = headerCheckOf(h);
   h.owner = owner;
   h.ownerCheck = ownerCheckOf(owner);
   Stow::Mapping map;
   try {
      map = Stow::createFile(path, recordOffset(capacity), false,
                             [&](char* base) { std::memcpy(base, &h, sizeof h); });
   } catch (Stow::IoError const& e) {
      throw KeyTableError("key table " + path + ": " + e.what());
   }
   return std::unique_ptr<KeyTable>(new KeyTable(path, std::move(map), false));
}

std::unique_ptr<KeyTable> KeyTable::open(std::string const& path, KeyTableAccess access,
                                         KeyTableRepair repair) {
   bool const ro = access == KeyTableAccess::readOnly;
   auto refuse = [&](std::string const& why, bool replaceable = true) {
      throw KeyTableRefused("key table " + path + ": " + why, replaceable);
   };
   Stow::File file;
   try {
      file = Stow::File::open(path, !ro);
   } catch (Stow::IoError const& e) {
      if (e.code() == ENOENT) refuse("is missing");
      if (e.code() == EISDIR) refuse("not a regular file", false);
      std::string why = e.what();
      if (e.code() == EACCES && !ro) why += " (read-only commands open it read-only)";
      throw KeyTableError("key table " + path + ": " + why);
   }
   struct stat const st = io(path, [&] { return file.status(); });
   auto const size = static_cast<std::size_t>(st.st_size);
   if (!ro && st.st_uid != ::geteuid()) {
      refuse("owned by user " + std::to_string(st.st_uid) + ", not by this user (" +
                 std::to_string(::geteuid()) + ")",
             false);
   }
   if (!S_ISREG(st.st_mode)) refuse("not a regular file", false);
   if (size < sizeof(Header)) {
      refuse("file of " + std::to_string(size) + " bytes is too short for a header");
   }
   std::size_t const records = (size - sizeof(Header)) / sizeof(Record);
   if ((size - sizeof(Header)) % sizeof(Record) != 0 || records == 0 || records > kMaxCapacity) {
      refuse("file of " + std::to_string(size) + " bytes is not a header and 1.." +
             std::to_string(kMaxCapacity) + " whole records");
   }
   // Read-only: a private copy, so open's repairs stay in this process and the file is untouched.
   Stow::Mapping map = io(path, [&] {
      if (ro) return Stow::Mapping(file, size, Stow::Mapping::Kind::privateCopy);
      file.reserve(size);
      return Stow::Mapping(file, size, Stow::Mapping::Kind::shared);
   });
   std::unique_ptr<KeyTable> t(new KeyTable(path, std::move(map), ro));
   t->headerRepair(repair);
   t->recordsScan();
   return t;
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
   try {
      Stow::remove({path, path + ".new"});  // and what a create cut short left
   } catch (Stow::IoError const& e) {
      if (e.code() == EPERM) {
         throw KeyTableRefused("key table " + path + ": cannot be removed: " + e.what());
      }
      throw KeyTableError("key table " + path + ": " + e.what());
   }
}

KeyTable::Header& KeyTable::header() const {
   return *reinterpret_cast<Header*>(map_.base());
}

KeyTable::Record& KeyTable::slotRecord(U64 slot) const {
   return *reinterpret_cast<Record*>(map_.base() + recordOffset(slot));
}

void KeyTable::prefetch(EntryKey key) const {
   if (key != 0 && key <= capacity()) __builtin_prefetch(&slotRecord(key - 1));
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

}  // namespace TwiceNatAgent
