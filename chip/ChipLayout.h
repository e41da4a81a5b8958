#pragma once
// Where the parts of a chip's state lie in its mapping, and the hashes and check words over
// them. Internal to the chip model.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Stow/Check.h"
#include "chip/ChipState.h"

namespace chip::layout {

constexpr size_t align64(size_t n) {
   return (n + 63) & ~size_t(63);
}

struct Offsets {
   size_t slots;
   size_t keyIndex;
   size_t handleIndex;
   size_t size;
};

inline Offsets offsetsOf(uint32_t capacity, uint32_t buckets) {
   Offsets l;
   l.slots = align64(sizeof(Header));
   l.keyIndex = align64(l.slots + size_t(capacity) * sizeof(Slot));
   l.handleIndex = align64(l.keyIndex + size_t(buckets) * sizeof(uint32_t));
   l.size = align64(l.handleIndex + size_t(buckets) * sizeof(uint32_t));
   return l;
}

// At most half full, so that linear probing stays short.
inline uint32_t bucketsFor(uint32_t capacity) {
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

// Handles are the chip's own, given out in increasing order. Runs of 32 handles share a block
// of 64 buckets, every other one, and the blocks are scattered: entries made together sit
// together (a restart's walk in handle order touches the index in order, not at random),
// while probe runs stay short, so a delete's backward shift has little to scan.
inline uint32_t handleHash(uint32_t h) {
   return uint32_t(mix64(h >> 5)) << 6 | (h & 31u) << 1;
}

// Check words: the state files' one kind (Stow/Check.h), seeded per record kind.
using Checker = Stow::Checker;

inline uint32_t slotCheck(uint32_t handle, Key const& key, ActionRec const& act) {
   return Checker(0x510751u).add(handle).add(key).add(act).value();
}

inline uint32_t defaultCheck(uint32_t index, ActionRec const& act) {
   return Checker(0xdef0u + index).add(act).value();
}

inline uint32_t intentCheck(Intent const& i) {
   return Checker(0x1e7e47u).add(i.op).add(i.target).add(i.handle).add(i.key).add(i.act).value();
}

inline uint32_t fixedCheck(FixedHeader const& f) {
   FixedHeader c = f;
   c.check = 0;
   return Checker(0xf1c5u).add(c).value();
}

}  // namespace chip::layout
