#pragma once
// The twiceNatAddrOnly table as P4Runtime sees it: its P4Info for one chip profile, and the
// ids that P4Runtime messages name its parts by.
//
// Ids are what a P4Info generator assigns: an object's id is its kind's prefix byte
// (p4.config.v1.P4Ids) over the low 24 bits of the one-at-a-time hash of its name, the next
// free value when two names of one kind meet; match fields and action parameters count from 1
// in declaration order.
#include <optional>
#include <string>
#include <string_view>

#include "Zin/Types.h"
#include "agent/core/EntryValues.h"
#include "p4/config/v1/p4info.pb.h"

namespace TwiceNatP4rt {

using TwiceNatAgent::ActionKind;

// Match field ids.
constexpr U32 kDipField = 1;
constexpr U32 kSipField = 2;
constexpr U32 kVrfField = 3;  // only on a chip whose profile has the VRF key field

// Action parameter ids and widths; the fifth is nextHop (hit) or ecmpGroup (ecmp).
constexpr U32 kParamCount = 5;
constexpr U32 kParamWidth[kParamCount] = {16, 16, 8, 8, 16};

constexpr std::string_view kTableName = "twiceNatAddrOnly";

// The id P4Info gives the object `name` of the kind `prefix` (no other object of the kind
// taken into account).
U32 p4InfoId(U8 prefix, std::string_view name);

class Pipeline {
 public:
   // `capacity` is the table's size in the P4Info.
   Pipeline(bool vrfKeyField, U64 capacity);

   p4::config::v1::P4Info const& p4info() const { return p4info_; }
   bool vrfKeyField() const { return vrf_; }
   U32 matchFields() const { return vrf_ ? 3 : 2; }
   U32 tableId() const { return tableId_; }
   U32 actionId(ActionKind kind) const { return actionIds_[unsigned(kind)]; }
   std::optional<ActionKind> actionOf(U32 id) const;
   static std::string_view actionName(ActionKind kind);
   // Parameter names of an action, by id - 1; empty past its last parameter.
   static std::string_view paramName(ActionKind kind, U32 index);
   static U32 paramCount(ActionKind kind) { return kind == ActionKind::onMiss ? 0 : kParamCount; }
   static std::string_view matchFieldName(U32 id);
   static U32 matchFieldWidth(U32 id) { return id == kVrfField ? 16 : 32; }

   // Why `other` does not describe this table as the chip has it; empty when it does.
   // Annotations, documentation, aliases and the package information are not compared; a
   // size up to the chip's capacity is taken.
   std::string mismatch(p4::config::v1::P4Info const& other) const;

   // The P4Info as a short table for people to read.
   std::string summary() const;

 private:
   std::string tableMismatch(p4::config::v1::Table const& t) const;
   std::string actionMismatch(p4::config::v1::P4Info const& other) const;

   bool vrf_;
   U64 capacity_;
   U32 tableId_ = 0;
   U32 actionIds_[3] = {};
   p4::config::v1::P4Info p4info_;
};

}  // namespace TwiceNatP4rt
