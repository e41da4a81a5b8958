#include "agent/p4rt/Pipeline.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <vector>

namespace TwiceNatP4rt {

namespace {

namespace cfg = p4::config::v1;

constexpr std::string_view kActionNames[3] = {"onMiss", "twiceNatAddrOnlyHit",
                                              "twiceNatAddrOnlyHitEcmp"};
constexpr std::string_view kMatchNames[3] = {"outerIpv4HdrDip", "outerIpv4HdrSip", "l3InfoVrfId"};
constexpr std::string_view kParamNames[kParamCount] = {"keyId", "rwId", "prot", "frag", ""};

U32 oneAtATime(std::string_view name) {
   U32 h = 0;
   for (char c : name) {
      h += U8(c);
      h += h << 10;
      h ^= h >> 6;
   }
   h += h << 3;
   h ^= h >> 11;
   h += h << 15;
   return h;
}

U32 idOf(U8 prefix, U32 suffix) {
   return U32(prefix) << 24 | (suffix & 0xFFFFFF);
}

// The ids of the objects of one kind, in the order of `names`: names are taken in sorted
// order, and one whose id is taken probes on to the next suffix.
template <std::size_t N>
std::array<U32, N> assignIds(U8 prefix, std::array<std::string_view, N> const& names) {
   std::array<std::size_t, N> order;
   for (std::size_t i = 0; i < N; ++i)
      order[i] = i;
   std::sort(order.begin(), order.end(), [&](auto a, auto b) { return names[a] < names[b]; });
   std::set<U32> taken;
   std::array<U32, N> ids{};
   for (std::size_t i : order) {
      U32 suffix = oneAtATime(names[i]);
      while (taken.count(idOf(prefix, suffix)))
         ++suffix;
      ids[i] = idOf(prefix, suffix);
      taken.insert(ids[i]);
   }
   return ids;
}

void preambleIs(cfg::Preamble* p, U32 id, std::string_view name, std::string_view brief) {
   p->set_id(id);
   p->set_name(std::string(name));
   p->set_alias(std::string(name));
   if (!brief.empty()) p->mutable_doc()->set_brief(std::string(brief));
}

std::string hex(U32 id) {
   char text[16];
   std::snprintf(text, sizeof text, "0x%08x", id);
   return text;
}

}  // namespace

U32 p4InfoId(U8 prefix, std::string_view name) {
   return idOf(prefix, oneAtATime(name));
}

Pipeline::Pipeline(bool vrfKeyField, U64 capacity) : vrf_(vrfKeyField), capacity_(capacity) {
   tableId_ = assignIds<1>(cfg::P4Ids::TABLE, {kTableName})[0];
   auto const actions =
       assignIds<3>(cfg::P4Ids::ACTION, {kActionNames[0], kActionNames[1], kActionNames[2]});
   std::copy(actions.begin(), actions.end(), actionIds_);

   cfg::PkgInfo* pkg = p4info_.mutable_pkg_info();
   pkg->set_name(std::string(kTableName));
   pkg->set_version("1");
   pkg->mutable_doc()->set_brief(vrf_ ? "Exact match on the VRF and the outer IPv4 destination "
                                        "and source addresses"
                                      : "Exact match on the outer IPv4 destination and source "
                                        "addresses");

   cfg::Table* t = p4info_.add_tables();
   preambleIs(t->mutable_preamble(), tableId_, kTableName, "");
   for (U32 id = 1; id <= matchFields(); ++id) {
      cfg::MatchField* f = t->add_match_fields();
      f->set_id(id);
      f->set_name(std::string(matchFieldName(id)));
      f->set_bitwidth(I32(matchFieldWidth(id)));
      f->set_match_type(cfg::MatchField::EXACT);
   }
   for (U32 id : actionIds_)
      t->add_action_refs()->set_id(id);
   t->set_size(I64(capacity));

   for (unsigned k = 0; k < 3; ++k) {
      ActionKind const kind = ActionKind(k);
      cfg::Action* a = p4info_.add_actions();
      preambleIs(a->mutable_preamble(), actionIds_[k], kActionNames[k], "");
      for (U32 i = 0; i < paramCount(kind); ++i) {
         cfg::Action::Param* p = a->add_params();
         p->set_id(i + 1);
         p->set_name(std::string(paramName(kind, i)));
         p->set_bitwidth(I32(kParamWidth[i]));
      }
   }
}

std::optional<ActionKind> Pipeline::actionOf(U32 id) const {
   for (unsigned k = 0; k < 3; ++k) {
      if (actionIds_[k] == id) return ActionKind(k);
   }
   return std::nullopt;
}

std::string_view Pipeline::actionName(ActionKind kind) {
   return kActionNames[unsigned(kind)];
}

std::string_view Pipeline::paramName(ActionKind kind, U32 index) {
   if (index >= paramCount(kind)) return {};
   if (index == kParamCount - 1) return kind == ActionKind::hit ? "nextHop" : "ecmpGroup";
   return kParamNames[index];
}

std::string_view Pipeline::matchFieldName(U32 id) {
   return id >= 1 && id <= 3 ? kMatchNames[id - 1] : std::string_view();
}

std::string Pipeline::mismatch(cfg::P4Info const& other) const {
   auto const& unknown = other.GetReflection()->GetUnknownFields(other);
   if (unknown.field_count() != 0) {
      return "the P4Info declares objects of a kind this pipeline has none of (P4Info field " +
             std::to_string(unknown.field(0).number()) + ")";
   }
   if (other.tables_size() != 1) {
      return "the P4Info has " + std::to_string(other.tables_size()) +
             " tables; this pipeline has one, " + std::string(kTableName);
   }
   std::string why = tableMismatch(other.tables(0));
   return why.empty() ? actionMismatch(other) : why;
}

std::string Pipeline::tableMismatch(cfg::Table const& t) const {
   std::string const name = "table " + std::string(kTableName);
   if (t.preamble().name() != kTableName || t.preamble().id() != tableId_) {
      return "the P4Info's table is '" + t.preamble().name() + "' with id " +
             hex(t.preamble().id()) + "; this pipeline's is '" + std::string(kTableName) +
             "' with id " + hex(tableId_);
   }
   if (t.const_default_action_id() != 0 || t.implementation_id() != 0 ||
       t.direct_resource_ids_size() != 0 || t.is_const_table() ||
       t.idle_timeout_behavior() != cfg::Table::NO_TIMEOUT) {
      return name +
             " has no constant default action, action profile, direct resources, "
             "constant entries or idle timeout; the P4Info gives it one";
   }
   if (U64(t.size()) > capacity_ || t.size() < 0) {
      return name + " of size " + std::to_string(t.size()) + " cannot be realised: the chip " +
             "holds " + std::to_string(capacity_) + " entries";
   }
   if (U32(t.match_fields_size()) != matchFields()) {
      return name + " has " + std::to_string(matchFields()) + " match fields on this chip (" +
             (vrf_ ? "with" : "without") + " the VRF key field); the P4Info gives it " +
             std::to_string(t.match_fields_size());
   }
   std::set<U32> seen;
   for (cfg::MatchField const& f : t.match_fields()) {
      if (f.id() < 1 || f.id() > matchFields() || !seen.insert(f.id()).second ||
          f.name() != matchFieldName(f.id()) || U32(f.bitwidth()) != matchFieldWidth(f.id()) ||
          f.match_type() != cfg::MatchField::EXACT) {
         return name + ": the P4Info's match field " + std::to_string(f.id()) + " '" + f.name() +
                "' (" + std::to_string(f.bitwidth()) + " bits) is not one of this table's " +
                "exact fields, or is given twice";
      }
   }
   std::set<U32> refs;
   for (cfg::ActionRef const& r : t.action_refs()) {
      if (!actionOf(r.id()) || r.scope() != cfg::ActionRef::TABLE_AND_DEFAULT ||
          !refs.insert(r.id()).second) {
         return name + ": the P4Info refers to action " + hex(r.id()) +
                ", which is not one of the table's actions for entries and the default, or "
                "refers to it twice";
      }
   }
   if (refs.size() != 3)
      return name + " has 3 actions; the P4Info refers to " + std::to_string(refs.size());
   return {};
}

std::string Pipeline::actionMismatch(cfg::P4Info const& other) const {
   if (other.actions_size() != 3) {
      return "the P4Info declares " + std::to_string(other.actions_size()) +
             " actions; this pipeline has 3";
   }
   std::set<U32> seen;
   for (cfg::Action const& a : other.actions()) {
      std::optional<ActionKind> kind = actionOf(a.preamble().id());
      std::string const name =
          "action " + hex(a.preamble().id()) + " '" + a.preamble().name() + "'";
      if (!kind || a.preamble().name() != kActionNames[unsigned(*kind)] ||
          !seen.insert(a.preamble().id()).second) {
         return "the P4Info's " + name +
                " is not one of this pipeline's actions, or is given twice";
      }
      if (U32(a.params_size()) != paramCount(*kind)) {
         return "the P4Info's " + name + " has " + std::to_string(a.params_size()) +
                " parameters; it has " + std::to_string(paramCount(*kind));
      }
      std::set<U32> params;
      for (cfg::Action::Param const& p : a.params()) {
         if (p.id() < 1 || p.id() > paramCount(*kind) || !params.insert(p.id()).second ||
             p.name() != paramName(*kind, p.id() - 1) ||
             U32(p.bitwidth()) != kParamWidth[p.id() - 1]) {
            return "the P4Info's " + name + " has parameter " + std::to_string(p.id()) + " '" +
                   p.name() + "' of " + std::to_string(p.bitwidth()) +
                   " bits, which is not one of its parameters, or is given twice";
         }
      }
   }
   return {};
}

std::string Pipeline::summary() const {
   std::string out = "table  " + hex(tableId_) + "  " + std::string(kTableName) + ", size " +
                     std::to_string(capacity_) + "\n";
   for (U32 id = 1; id <= matchFields(); ++id) {
      char line[96];
      std::snprintf(line, sizeof line, "  match field %u  %-16s exact, %u bits\n", id,
                    std::string(matchFieldName(id)).c_str(), matchFieldWidth(id));
      out += line;
   }
   for (unsigned k = 0; k < 3; ++k) {
      ActionKind const kind = ActionKind(k);
      out += "action " + hex(actionIds_[k]) + "  " + std::string(kActionNames[k]) + "\n";
      for (U32 i = 0; i < paramCount(kind); ++i) {
         char line[96];
         std::snprintf(line, sizeof line, "  param %u  %-10s %u bits\n", i + 1,
                       std::string(paramName(kind, i)).c_str(), kParamWidth[i]);
         out += line;
      }
   }
   return out;
}

}  // namespace TwiceNatP4rt
