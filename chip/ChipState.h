#pragma once
// Layout of a chip's state. It lives in one mapping (a file, or anonymous memory for a private
// chip) so that another process can open the same chip: a header, the entry slots, and two
// open-addressing indices (key -> slot, handle -> slot) whose buckets hold slot + 1 (0: empty).
#include <cstdint>

#include "chip/Profile.h"

namespace chip {

constexpr uint64_t kMagic = 0x31504948434e5754ull;  // "TWNCHIP1"
constexpr uint32_t kVersion = 1;
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
   uint32_t handle;    // 0: free
   uint32_t nextFree;  // free list link while free
   Key key;
   ActionRec act;
};

constexpr uint32_t kVrfKeyField = 1;
constexpr uint32_t kBfrt = 2;
constexpr uint32_t kActionProfileTable = 4;

struct Header {
   uint64_t magic;
   uint32_t version;
   uint32_t headerSize;
   uint32_t slotSize;
   uint32_t capacity;
   uint32_t pipes;
   uint32_t profileFlags;
   uint32_t buckets;     // per index; a power of two, at least twice the capacity
   uint32_t scope;       // Scope
   uint32_t count;       // live entries
   uint32_t nextHandle;  // never decreases
   uint32_t freeHead;    // first free slot below highWater, kNoSlot when none
   uint32_t highWater;   // slots at and above it were never used
   uint64_t fileSize;
   // Default action per pipe; index kMaxPipes is the all-pipes default.
   ActionRec defaults[kMaxPipes + 1];
};

}  // namespace chip
