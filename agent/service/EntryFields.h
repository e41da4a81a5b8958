#pragma once
// An entry in the protocol's JSON: named fields ("dst", "src", "vrf", "action", "keyId", "rwId",
// "prot", "frag", "nextHop" or "ecmpGroup"; in rows also "handle" and "status"), read one field
// at a time and checked as a whole, and written straight into a message's text.
#include <optional>
#include <string>
#include <string_view>

#include "agent/core/AgentCore.h"
#include "agent/core/EntrySpecs.h"
#include "agent/service/JsonEvents.h"

namespace TwiceNatService {

using namespace TwiceNatAgent;

// A dotted quad, "10.0.0.1": four parts of 1 to 3 digits, none above 255, none with a leading
// zero (01.02.03.010 is refused, not read as 1.2.3.10). `problem` says why it is refused.
struct DottedQuad {
   U32 value = 0;
   char const* problem = nullptr;  // "is not an IPv4 address A.B.C.D", "has a part above 255"...
};
DottedQuad parseDottedQuad(std::string_view text);

// "onMiss", "hit", "ecmp".
std::string_view actionKindName(ActionKind kind);
std::optional<ActionKind> actionKindNamed(std::string_view name);
// "programmed", "resynced", "missing on chip".
std::string_view originName(EntryOrigin origin);

enum class EntryField : U8 {
   dst,
   src,
   vrf,
   action,
   keyId,
   rwId,
   prot,
   frag,
   nextHop,
   ecmpGroup,
   handle,
   status,
   count
};
std::optional<EntryField> entryFieldNamed(std::string_view name);
std::string_view entryFieldName(EntryField field);

// The fields of one entry as they arrive.
class EntryFields {
 public:
   void clear() { given_ = nulled_ = 0; }
   // Takes one field's value; ProtocolError naming `path` when it has the wrong type or range.
   void take(EntryField field, JsonScalar const& value, JsonPath path);
   bool given(EntryField f) const { return given_ & bit(f); }
   bool nulled(EntryField f) const { return nulled_ & bit(f); }
   // The value taken (an address, a number, an ActionKind or EntryOrigin as a number); nothing
   // when not given or given as null.
   std::optional<U64> value(EntryField f) const {
      if (!given(f) || nulled(f)) return std::nullopt;
      return values_[unsigned(f)];
   }
   bool anyGiven(std::initializer_list<EntryField> fields) const;
   // The first of `fields` given, for refusals.
   std::optional<EntryField> firstGiven(std::initializer_list<EntryField> fields) const;

   // Checked wholes; ProtocolError names what is missing or does not go together, and where
   // the entry is ("entry", "updates[3]": the path is made text only then).
   MatchKey key(JsonPath where) const;
   ActionValues action(JsonPath where) const;
   // A row of a show or get: the key, and the action unless the chip lost the entry.
   EntryRow row(JsonPath where) const;

 private:
   static U32 bit(EntryField f) { return U32(1) << unsigned(f); }
   U64 values_[unsigned(EntryField::count)] = {};
   U32 given_ = 0;
   U32 nulled_ = 0;  // given as null (vrf: none; action: the chip lost the entry)
};

// Writers: the fields without braces (a row with its braces), each preceded by a comma when
// `out` ends in a value.
void appendKey(std::string& out, MatchKey const& key);
void appendAction(std::string& out, ActionValues const& action);
// {"handle":..,"status":..,"dst":..,...}; the key is left out for the default entry, the
// action (null) for an entry the chip lost.
void appendRow(std::string& out, EntryRow const& row, bool withKey);
// An update as an array: [op, dst, src, vrf, action, keyId, rwId, prot, frag, target] with
// what the op does not take left out (docs/protocol.md).
void appendUpdate(std::string& out, Update const& update);
void appendNumber(std::string& out, U64 n);
// A JSON string, quoted and escaped.
void appendString(std::string& out, std::string_view text);

}  // namespace TwiceNatService
