#pragma once
// What a simulated chip offers, fixed when the chip is created.
#include <cstdint>

namespace chip {

constexpr uint32_t kMaxPipes = 16;
constexpr uint32_t kMaxCapacity = 1u << 24;

struct Profile {
   uint32_t capacity = 65536;        // entries of all pipes together
   uint32_t pipes = 4;               // 1 to kMaxPipes
   bool vrfKeyField = true;          // the VRF is part of the key
   bool bfrt = true;                 // the BfRt runtime offers the table
   bool actionProfileTable = false;  // BfRt also offers the table's action profile
};

// Throws ChipException for a profile that no chip can have.
void validate(Profile const& profile);

}  // namespace chip
