#pragma once
// Names and ids of the table's BfRt program information. The ids are arbitrary but distinct,
// and far from 0, 1 and 2 so that a client mixing up ids, indices or action types is caught.
#include <cstdint>
#include <string_view>

#include "chip/ChipState.h"

namespace chip::schema {

inline constexpr std::string_view kTableName = "twiceNatAddrOnly";
inline constexpr std::string_view kActionProfileName = "twiceNatAddrOnlyActionProfile";

struct Field {
   std::string_view name;
   uint32_t id;
   unsigned bits;
};

// Key fields of the match table, indexed as a key object stores them.
constexpr unsigned kVrfIndex = 0;
inline constexpr Field kMatchKey[] = {
    {"l3InfoVrfId", 0x0101, 16}, {"outerIpv4HdrDip", 0x0102, 32}, {"outerIpv4HdrSip", 0x0103, 32}};
// The action profile's key: its member id.
inline constexpr Field kProfileKey[] = {{"actionMemberId", 0x0111, 32}};

struct ActionInfo {
   std::string_view name;
   uint32_t id;
   Action action;
   unsigned params;  // number of data fields
   Field fields[kParams];
};

inline constexpr ActionInfo kActions[] = {
    {"onMiss", 0x20e4a1c1, Action::onMiss, 0, {}},
    {"twiceNatAddrOnlyHit",
     0x20e4a1c2,
     Action::hit,
     kParams,
     {{"keyId", 0x0201, 16},
      {"rwId", 0x0202, 16},
      {"prot", 0x0203, 8},
      {"frag", 0x0204, 8},
      {"nextHop", 0x0205, 16}}},
    {"twiceNatAddrOnlyHitEcmp",
     0x20e4a1c3,
     Action::hitEcmp,
     kParams,
     {{"keyId", 0x0301, 16},
      {"rwId", 0x0302, 16},
      {"prot", 0x0303, 8},
      {"frag", 0x0304, 8},
      {"ecmpGroup", 0x0305, 16}}},
};

// The action of an id, or null.
inline ActionInfo const* actionById(uint32_t id) {
   for (auto const& a : kActions) {
      if (a.id == id) return &a;
   }
   return nullptr;
}
inline ActionInfo const& actionOf(Action action) {
   return kActions[unsigned(action)];
}

// Index of a data field of `action` (its parameter index), or -1.
inline int paramIndex(ActionInfo const& action, uint32_t fieldId) {
   for (unsigned i = 0; i < action.params; ++i) {
      if (action.fields[i].id == fieldId) return int(i);
   }
   return -1;
}

inline bool fits(uint64_t value, unsigned bits) {
   return bits >= 64 || (value >> bits) == 0;
}

}  // namespace chip::schema
