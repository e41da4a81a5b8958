#include "agent/p4rt/EntryTranslation.h"

#include <cstdio>

#include "agent/p4rt/Bytestrings.h"

namespace TwiceNatP4rt {

namespace {

using p4::v1::FieldMatch;
using p4::v1::TableEntry;
using TwiceNatAgent::ActionValues;
using TwiceNatAgent::MatchKey;
using TwiceNatAgent::UpdateKind;
using Fields = google::protobuf::RepeatedPtrField<FieldMatch>;

std::string const kTable = "table " + std::string(kTableName);

std::string hex(U32 id) {
   char text[16];
   std::snprintf(text, sizeof text, "0x%08x", id);
   return text;
}

bool hasUnknown(google::protobuf::Message const& m) {
   return m.GetReflection()->GetUnknownFields(m).field_count() != 0;
}

int firstUnknown(google::protobuf::Message const& m) {
   return m.GetReflection()->GetUnknownFields(m).field(0).number();
}

std::string fieldName(U32 id) {
   return "match field " + std::string(Pipeline::matchFieldName(id));
}

char const* kindName(FieldMatch::FieldMatchTypeCase c) {
   switch (c) {
      case FieldMatch::kTernary:
         return "a ternary";
      case FieldMatch::kLpm:
         return "an LPM";
      case FieldMatch::kRange:
         return "a range";
      case FieldMatch::kOptional:
         return "an optional";
      default:
         return "an unknown";
   }
}

// The match fields given, as a bit per field id, with their values (by id - 1).
RpcError decodeMatch(Pipeline const& p, Fields const& fields, U32& given, U32 (&values)[3]) {
   given = 0;
   for (FieldMatch const& f : fields) {
      U32 const id = f.field_id();
      if (id < 1 || id > p.matchFields()) {
         return refused(
             Rpc::INVALID_ARGUMENT,
             kTable + " has no match field " + std::to_string(id) +
                 (id == kVrfField ? " (l3InfoVrfId): this chip has no VRF key field" : ""));
      }
      if (given & (1u << id)) {
         return refused(Rpc::INVALID_ARGUMENT, fieldName(id) + " is given twice");
      }
      given |= 1u << id;
      if (f.field_match_type_case() == FieldMatch::kExact) {
         RpcError e = decodeBits(f.exact().value(), Pipeline::matchFieldWidth(id), values[id - 1],
                                 "match field ", Pipeline::matchFieldName(id));
         if (!e.ok()) return e;
      } else if (f.field_match_type_case() == FieldMatch::FIELD_MATCH_TYPE_NOT_SET &&
                 !hasUnknown(f)) {
         return refused(Rpc::INVALID_ARGUMENT, fieldName(id) + " has no value");
      } else {
         return refused(Rpc::INVALID_ARGUMENT, fieldName(id) +
                                                   " is an exact match; the request gives " +
                                                   kindName(f.field_match_type_case()) + " match");
      }
   }
   return {};
}

MatchKey keyOf(Pipeline const& p, U32 const (&values)[3]) {
   MatchKey k;
   k.dip = values[0];
   k.sip = values[1];
   if (p.vrfKeyField()) {
      k.vrf = U16(values[2]);
      k.vrfGiven = true;
   }
   return k;
}

std::string actionName(ActionKind kind) {
   return std::string(Pipeline::actionName(kind));
}

RpcError decodeAction(Pipeline const& p, p4::v1::TableAction const& ta, ActionValues& out) {
   if (ta.type_case() != p4::v1::TableAction::kAction) {
      if (ta.type_case() == p4::v1::TableAction::TYPE_NOT_SET && !hasUnknown(ta)) {
         return refused(Rpc::INVALID_ARGUMENT, "the entry's action is empty");
      }
      return refused(Rpc::INVALID_ARGUMENT,
                     kTable +
                         " is a direct table: its entries take an action, not an action "
                         "profile member, group or action set");
   }
   p4::v1::Action const& a = ta.action();
   std::optional<ActionKind> kind = p.actionOf(a.action_id());
   if (!kind) {
      return refused(Rpc::INVALID_ARGUMENT,
                     kTable + " has no action with id " + hex(a.action_id()));
   }
   U32 const n = Pipeline::paramCount(*kind);
   U32 values[kParamCount] = {};
   U32 given = 0;
   for (p4::v1::Action::Param const& param : a.params()) {
      U32 const id = param.param_id();
      if (id < 1 || id > n) {
         return refused(Rpc::INVALID_ARGUMENT,
                        "action " + actionName(*kind) + " has no parameter " + std::to_string(id));
      }
      std::string_view const name = Pipeline::paramName(*kind, id - 1);
      if (given & (1u << id)) {
         return refused(Rpc::INVALID_ARGUMENT, "parameter " + std::string(name) + " of action " +
                                                   actionName(*kind) + " is given twice");
      }
      given |= 1u << id;
      RpcError e =
          decodeBits(param.value(), kParamWidth[id - 1], values[id - 1], "parameter ", name);
      if (!e.ok()) return e;
   }
   for (U32 id = 1; id <= n; ++id) {
      if (!(given & (1u << id))) {
         return refused(Rpc::INVALID_ARGUMENT,
                        "parameter " + std::string(Pipeline::paramName(*kind, id - 1)) +
                            " of action " + actionName(*kind) + " is missing");
      }
   }
   out = ActionValues{*kind,         U16(values[0]), U16(values[1]),
                      U8(values[2]), U8(values[3]),  U16(values[4])};
   return {};
}

// The parts of a table entry that are the same for a Write and a Read: the table and the
// fields the table has nothing for.
RpcError checkEntry(Pipeline const& p, TableEntry const& e) {
   if (e.table_id() != p.tableId()) {
      return refused(Rpc::INVALID_ARGUMENT, "no table with id " + hex(e.table_id()) + " (" +
                                                kTable + " has id " + hex(p.tableId()) + ")");
   }
   if (hasUnknown(e)) {
      int const field = firstUnknown(e);
      bool const resource = field == 6 || field == 7 || field == 12;
      return refused(Rpc::INVALID_ARGUMENT, resource ? kTable + " has no direct counter or meter"
                                                     : "TableEntry field " + std::to_string(field) +
                                                           " is not served by " + kTable);
   }
   if (e.priority() != 0) {
      return refused(Rpc::INVALID_ARGUMENT,
                     kTable + " matches exactly: its entries take no priority");
   }
   return {};
}

RpcError checkWritable(TableEntry const& e, bool remove) {
   if (e.is_const()) {
      return refused(Rpc::INVALID_ARGUMENT, "a written entry is never constant");
   }
   if (remove) return {};  // a delete is named by its key alone
   if (e.idle_timeout_ns() != 0 || e.has_time_since_last_hit()) {
      return refused(Rpc::INVALID_ARGUMENT, kTable + " has no idle timeout");
   }
   if (e.controller_metadata() != 0 || !e.metadata().empty()) {
      return refused(Rpc::UNIMPLEMENTED, kTable + " keeps no metadata with its entries");
   }
   return {};
}

RpcError defaultOp(Pipeline const& p, p4::v1::Update::Type type, TableEntry const& e,
                   WriteOp& out) {
   if (type != p4::v1::Update::MODIFY) {
      return refused(Rpc::INVALID_ARGUMENT,
                     "the default entry is always there: it is set and reset with MODIFY");
   }
   if (e.match_size() != 0) {
      return refused(Rpc::INVALID_ARGUMENT, "the default entry has no match fields");
   }
   if (!e.has_action()) {
      out.update.kind = UpdateKind::defaultReset;
      return {};
   }
   out.update.kind = UpdateKind::defaultSet;
   return decodeAction(p, e.action(), out.update.entry.action);
}

}  // namespace

RpcError toWriteOp(Pipeline const& p, p4::v1::Update const& update, WriteOp& out) {
   out = WriteOp{};
   auto const type = update.type();
   if (type != p4::v1::Update::INSERT && type != p4::v1::Update::MODIFY &&
       type != p4::v1::Update::DELETE) {
      return refused(Rpc::INVALID_ARGUMENT,
                     "update type " + std::to_string(int(type)) + ": INSERT, MODIFY or DELETE");
   }
   p4::v1::Entity const& entity = update.entity();
   if (entity.entity_case() != p4::v1::Entity::kTableEntry) {
      if (hasUnknown(entity)) {
         return refused(Rpc::UNIMPLEMENTED,
                        "only table entries are served here (the update's "
                        "entity is of kind " +
                            std::to_string(firstUnknown(entity)) + ")");
      }
      return refused(Rpc::INVALID_ARGUMENT, "the update carries no entity");
   }
   TableEntry const& e = entity.table_entry();
   bool const remove = type == p4::v1::Update::DELETE;
   RpcError err = checkEntry(p, e);
   if (err.ok()) err = checkWritable(e, remove);
   if (!err.ok()) return err;
   if (e.is_default_action()) return defaultOp(p, type, e, out);

   U32 given = 0;
   U32 values[3] = {};
   err = decodeMatch(p, e.match(), given, values);
   if (!err.ok()) return err;
   for (U32 id = 1; id <= p.matchFields(); ++id) {
      if (!(given & (1u << id))) {
         return refused(Rpc::INVALID_ARGUMENT,
                        fieldName(id) + " is missing: an exact field is always given");
      }
   }
   out.update.entry.match = keyOf(p, values);
   if (remove) {
      out.update.kind = UpdateKind::remove;
      return {};
   }
   out.update.kind = type == p4::v1::Update::INSERT ? UpdateKind::insert : UpdateKind::modify;
   if (!e.has_action()) {
      if (type == p4::v1::Update::INSERT) {
         return refused(Rpc::INVALID_ARGUMENT, "an inserted entry needs an action");
      }
      out.keepAction = true;
      return {};
   }
   return decodeAction(p, e.action(), out.update.entry.action);
}

RpcError toReadQuery(Pipeline const& p, p4::v1::Entity const& entity, ReadQuery& out) {
   out = ReadQuery{};
   if (entity.entity_case() != p4::v1::Entity::kTableEntry) {
      if (hasUnknown(entity)) {
         return refused(Rpc::UNIMPLEMENTED,
                        "only table entries are served here (the read's "
                        "entity is of kind " +
                            std::to_string(firstUnknown(entity)) + ")");
      }
      return refused(Rpc::INVALID_ARGUMENT, "the read's entity is empty: name a kind of entity");
   }
   TableEntry const& e = entity.table_entry();
   if (e.table_id() == 0 && e.match_size() == 0 && e.priority() == 0 && !hasUnknown(e)) {
      out.kind = e.is_default_action() ? ReadQuery::Kind::defaultEntry : ReadQuery::Kind::entries;
      return {};
   }
   RpcError err = checkEntry(p, e);
   if (!err.ok()) return err;
   if (e.is_default_action()) {
      if (e.match_size() != 0) {
         return refused(Rpc::INVALID_ARGUMENT, "the default entry has no match fields");
      }
      out.kind = ReadQuery::Kind::defaultEntry;
      return {};
   }
   U32 given = 0;
   U32 values[3] = {};
   err = decodeMatch(p, e.match(), given, values);
   if (!err.ok()) return err;
   U32 const all = ((1u << (p.matchFields() + 1)) - 1) & ~1u;
   if (given == all) {
      out.kind = ReadQuery::Kind::one;
      out.key = keyOf(p, values);
      return {};
   }
   if (given & (1u << kDipField)) out.filter.dip = values[0];
   if (given & (1u << kSipField)) out.filter.sip = values[1];
   if (given & (1u << kVrfField)) out.filter.vrf = U16(values[2]);
   return {};
}

namespace {

// `n` elements, keeping those `out` has: a reused message takes new values without allocating.
template <class Repeated>
void resize(Repeated& out, int n) {
   while (out.size() > n)
      out.RemoveLast();
   while (out.size() < n)
      out.Add();
}

void actionIs(Pipeline const& p, ActionValues const& a, p4::v1::TableAction& out) {
   p4::v1::Action* action = out.mutable_action();
   action->set_action_id(p.actionId(a.kind));
   U32 const values[kParamCount] = {a.keyId, a.rwId, a.prot, a.frag, a.target};
   resize(*action->mutable_params(), int(Pipeline::paramCount(a.kind)));
   for (U32 i = 0; i < Pipeline::paramCount(a.kind); ++i) {
      p4::v1::Action::Param* param = action->mutable_params(int(i));
      param->set_param_id(i + 1);
      encodeBits(values[i], *param->mutable_value());
   }
}

}  // namespace

void toTableEntry(Pipeline const& p, TwiceNatAgent::EntrySpec const& entry, TableEntry& out) {
   out.set_table_id(p.tableId());
   out.set_is_default_action(false);
   U32 const values[3] = {entry.match.dip, entry.match.sip, entry.match.vrf};
   resize(*out.mutable_match(), int(p.matchFields()));
   for (U32 id = 1; id <= p.matchFields(); ++id) {
      FieldMatch* f = out.mutable_match(int(id - 1));
      f->set_field_id(id);
      encodeBits(values[id - 1], *f->mutable_exact()->mutable_value());
   }
   actionIs(p, entry.action, *out.mutable_action());
}

void toDefaultEntry(Pipeline const& p, ActionValues const& action, TableEntry& out) {
   out.set_table_id(p.tableId());
   out.clear_match();
   out.set_is_default_action(true);
   actionIs(p, action, *out.mutable_action());
}

}  // namespace TwiceNatP4rt
