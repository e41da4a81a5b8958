#pragma once
// Where the parts of a key table lie in its file, and the check words over them. Internal to
// the key table.
#include <cstddef>
#include <cstring>

#include "Stow/Check.h"
#include "agent/KeyTable.h"

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

namespace keytable {

using Header = KeyTable::Header;
using Record = KeyTable::Record;

constexpr U64 kMagic = 0x4C425459454B4E54ull;  // "TNKEYTBL" in file byte order
constexpr U8 kUsed = 0xA5;
// The bytes of a record its checksum covers, which a new record stores before its checksum.
constexpr std::size_t kSealed = offsetof(Record, undoHandle);

inline U32 nonZero(U32 c) {
   return c == 0 ? 1 : c;
}

inline U32 headerCheckOf(Header const& h) {
   return Stow::Checker(0x4b544844u)
       .add(h.magic)
       .add(h.version)
       .add(h.headerBytes)
       .add(h.recordBytes)
       .add(h.capacity)
       .value();
}

inline U32 ownerCheckOf(U64 owner) {
   return owner == 0 ? 0 : nonZero(Stow::Checker(0x6f776e72u).add(owner).value());
}

// The undo word is left out, so that parking a handle there keeps the record checking.
inline U32 recordCheckOf(Record const& r, U64 slot) {
   char sealed[kSealed];
   std::memcpy(sealed, &r, kSealed);
   return nonZero(Stow::Checker(0x7265636fu).add(sealed).add(slot).value());
}

inline U64 wordOf(Record const& r, int i) {
   U64 w;
   std::memcpy(&w, reinterpret_cast<char const*>(&r) + i * 8, sizeof w);
   return w;
}

// The i-th 8-byte word of a record in the mapping, as a place to store to.
inline U64& wordAt(Record& r, int i) {
   return *reinterpret_cast<U64*>(reinterpret_cast<char*>(&r) + i * 8);
}

inline bool isZero(Record const& r) {
   static_assert(sizeof(Record) == 4 * sizeof(U64));
   return (wordOf(r, 0) | wordOf(r, 1) | wordOf(r, 2) | wordOf(r, 3)) == 0;
}

inline bool isValid(Record const& r, U64 slot) {
   return r.state == kUsed && r.key == slot + 1 && r.checksum == recordCheckOf(r, slot);
}

}  // namespace keytable
}  // namespace TwiceNatAgent
