#pragma once
// Layout of a chip's state. It lives in one mapping (a file, or anonymous memory for a private
// chip) so that another process can open the same chip: a header, the entry slots, and two
// open-addressing indices (key -> slot, handle -> slot) whose buckets hold slot + 1 (0: empty).
//
// The slots and the default entries are the truth; each carries a check word so that damage is
// seen. Count, free list, high-water mark and both indices are derived: a writable open rebuilds
// them from the slots, so a kill between any two stores leaves nothing an open cannot redo. The
// one store group that is not atomic on its own, the rewrite of an action in place, goes through
// an intent record in the header that an open finishes.
#include <cstdint>

#include "chip/Profile.h"

namespace chip {

constexpr uint64_t kMagic = 0x31504948434e5754ull;  // "TWNCHIP1"
constexpr uint32_t kVersion = 2;
constexpr uint16_t kAllPipes = 0xFFFF;
constexpr uint32_t kNoSlot = 0xFFFFFFFFu;
// Entry handles count up from here; keeping them away from small numbers lets tests tell a
// handle from a slot index or a count.
constexpr uint32_t kFirstHandle = 0x10001;
// Default entries: base + pipe in single-pipe scope, base + kMaxPipes in all-pipes scope
// (never ~0, which callers tend to read as "no handle").
constexpr uint32_t kDefaultHandleBase = 0xFFFFFF00u;
constexpr uint32_t kAllPipesDefaultHandle = kDefaultHandleBase + kMaxPipes;

enum class Action : uint8_t { onMiss = 0, hit = 1, hitEcmp = 2 };
enum class Scope : uint32_t { allPipes = 0, singlePipe = 1 };

// Stored words for the scope and the intent operation: every byte differs between any two
// values, so one damaged byte never turns a value into another valid one.
constexpr uint32_t kScopeAllWord = 0x4c4c4150u;     // "PALL"
constexpr uint32_t kScopeSingleWord = 0x45474e53u;  // "SNGE"
constexpr uint32_t kIntentNone = 0;
constexpr uint32_t kIntentModify = 0x49444f4du;   // "MODI"
constexpr uint32_t kIntentDefault = 0x41464544u;  // "DEFA"

// Action parameters in this order: keyId, rwId, prot, frag, nextHop (or ecmpGroup).
constexpr unsigned kParams = 5;
constexpr unsigned kParamBits[kParams] = {16, 16, 8, 8, 16};

struct ActionRec {
   Action action = Action::onMiss;
   uint8_t pad[3] = {};
   uint32_t params[kParams] = {};  // wider than the fields so that tests can store raw values
};

// `pipe` is the pipe the entry lives in, kAllPipes in all-pipes scope.
struct Key {
   uint16_t pipe = 0;
   uint16_t vrf = 0;
   uint32_t dip = 0;
   uint32_t sip = 0;
   bool operator==(Key const&) const = default;
};

struct Slot {
   uint32_t handle;    // 0: free; written last when an entry is added, first when deleted
   uint32_t check;     // over handle, key and action while live
   uint32_t nextFree;  // free list link while free
   Key key;
   ActionRec act;
};

constexpr uint32_t kVrfKeyField = 1;
constexpr uint32_t kBfrt = 2;
constexpr uint32_t kActionProfileTable = 4;

// Written once when the chip is created; kept twice, each copy with its own check word.
struct FixedHeader {
   uint64_t magic;
   uint32_t version;
   uint32_t headerSize;
   uint32_t slotSize;
   uint32_t capacity;
   uint32_t pipes;
   uint32_t profileFlags;
   uint32_t buckets;  // per index; a power of two, at least twice the capacity
   uint32_t reserved;
   uint64_t fileSize;
   uint64_t identity;  // random, nonzero
   uint32_t check;
   uint32_t reserved2;
};

// An action rewrite in flight: `op` is stored last, after the rest and its check word.
struct Intent {
   uint32_t op;      // kIntent*
   uint32_t target;  // slot, or default index
   uint32_t handle;  // the slot's handle (modify)
   uint32_t check;
   Key key;  // the slot's key (modify), so that damage to it is still seen
   ActionRec act;
};

struct Header {
   FixedHeader fixed;
   uint32_t scope;           // kScope*Word
   uint32_t count;           // live entries
   uint32_t nextHandle;      // never decreases; stored twice, an open takes the smaller
   uint32_t nextHandleCopy;  // (a kill between the two stores leaves them one apart)
   uint32_t freeHead;        // first free slot below highWater, kNoSlot when none
   uint32_t highWater;       // slots at and above it are free
   Intent intent;
   // Default action per pipe; index kMaxPipes is the all-pipes default.
   ActionRec defaults[kMaxPipes + 1];
   uint32_t defaultChecks[kMaxPipes + 1];
   FixedHeader fixedCopy;
};

}  // namespace chip
