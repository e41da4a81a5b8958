#include "agent/service/RequestCodec.h"

#include <array>

#include "agent/service/CanonicalLines.h"
#include "agent/service/EntryFields.h"

namespace TwiceNatService {

namespace {

using Kind = JsonScalar::Kind;
using F = EntryField;

// The request's own fields; each op takes some of them.
enum class Top : U8 {
   v,
   op,
   entry,
   key,
   keys,
   withDefault,
   filter,
   pageSize,
   mode,
   updates,
   expect,
   count
};
constexpr std::array<std::string_view, unsigned(Top::count)> kTopNames = {
    "v",      "op",       "entry", "key",     "keys",  "default",
    "filter", "pageSize", "mode",  "updates", "expect"};

constexpr U32 bit(Top t) {
   return U32(1) << unsigned(t);
}

// What each op takes besides "v" and "op", and what it needs.
struct OpFields {
   U32 takes = 0, needs = 0;
};
OpFields fieldsOf(Op op) {
   switch (op) {
      case Op::get:
         return {bit(Top::keys) | bit(Top::withDefault), 0};
      case Op::show:
         return {bit(Top::filter) | bit(Top::pageSize), 0};
      case Op::insert:
      case Op::modify:
      case Op::program:
      case Op::defaultSet:
         return {bit(Top::entry), bit(Top::entry)};
      case Op::remove:
         return {bit(Top::key), bit(Top::key)};
      case Op::apply:
         return {bit(Top::mode) | bit(Top::updates) | bit(Top::expect), bit(Top::updates)};
      case Op::begin:
         return {bit(Top::mode) | bit(Top::expect), bit(Top::mode)};
      case Op::part:
         return {bit(Top::updates), bit(Top::updates)};
      default:
         return {};
   }
}

constexpr std::initializer_list<F> kKeyFields = {F::dst, F::src, F::vrf};
constexpr std::initializer_list<F> kParamFields = {F::keyId, F::rwId,    F::prot,
                                                   F::frag,  F::nextHop, F::ecmpGroup};
constexpr std::initializer_list<F> kActionFields = {F::action, F::keyId,   F::rwId,     F::prot,
                                                    F::frag,   F::nextHop, F::ecmpGroup};

std::string cutText(std::string_view t) {
   return t.size() > 40 ? std::string(t.substr(0, 37)) + "..." : std::string(t);
}

[[noreturn]] void refuse(JsonPath path, std::string const& why) {
   throw ProtocolError(pathText(path) + ": " + why);
}

void noneOf(EntryFields const& f, std::initializer_list<F> fields, JsonPath where,
            std::string_view taker) {
   if (auto g = f.firstGiven(fields)) {
      throw ProtocolError(pathText(where) + ": " + std::string(taker) + " takes no \"" +
                          std::string(entryFieldName(*g)) + "\"");
   }
}

// An update's entry from its fields: the key unless it is the default's, the action unless it
// is a removal or reset.
void build(Update& u, EntryFields const& f, JsonPath what) {
   bool const keyed = u.kind != UpdateKind::defaultSet && u.kind != UpdateKind::defaultReset;
   bool const acts = u.kind != UpdateKind::remove && u.kind != UpdateKind::defaultReset;
   std::string_view const op = opName(opOf(u.kind));
   if (!keyed) noneOf(f, kKeyFields, what, op);
   if (!acts) noneOf(f, kActionFields, what, op);
   if (keyed) u.entry.match = f.key(what);
   if (acts) u.entry.action = f.action(what);
}

// The field at `position` (from 1, after the op) of an update given as a list.
std::optional<F> positionalField(UpdateKind kind, std::size_t position, EntryFields const& got) {
   static constexpr F kKeyed[] = {F::dst,  F::src,  F::vrf,  F::action, F::keyId,
                                  F::rwId, F::prot, F::frag, F::nextHop};
   std::span<F const> order = kKeyed;
   if (kind == UpdateKind::remove) order = order.first(3);
   if (kind == UpdateKind::defaultSet) order = order.subspan(3);
   if (kind == UpdateKind::defaultReset) order = {};
   if (position == 0 || position > order.size()) return std::nullopt;
   F const f = order[position - 1];
   // The last one is the next hop of a hit, the group of an ECMP action.
   if (f == F::nextHop && got.value(F::action) == U64(ActionKind::ecmp)) return F::ecmpGroup;
   return f;
}

class RequestReader final : public JsonEvents {
 public:
   Request request;

   void scalar(JsonPath path, JsonScalar const& v) override {
      if (path.size() == 1) return top(path, v);
      Top const t = top_;
      if (t == Top::updates && path.size() == 3) return updateField(path, v);
      if (path.back().inArray) refuse(path, "an object of named fields was expected");
      std::optional<F> const f = entryFieldNamed(path.back().key);
      if (!f || *f == F::handle || *f == F::status) refuse(path, "unknown field");
      fields_.take(*f, v, path);
   }

   void open(JsonPath path, bool array) override {
      if (path.empty()) return;
      if (path.size() == 1) top_ = topOf(path[0]);
      Top const t = top_;
      bool const list = t == Top::keys || t == Top::updates;
      bool const record = t == Top::entry || t == Top::key || t == Top::filter;
      if (path.size() == 1) {
         given_ |= bit(t);
         if (!list && !record) refuse(path, "a list or object where a value was expected");
         if (array != list) refuse(path, list ? "a list was expected" : "an object was expected");
         fields_.clear();
         return;
      }
      if (path.size() == 2 && list) {
         std::size_t const max = t == Top::keys ? kMaxGetKeys : kMaxBatchUpdates;
         if (t == Top::keys && array) refuse(path, "an object of named fields was expected");
         if (path[1].index >= max) {
            refuse(path, "more than " + std::to_string(max) + " in one request");
         }
         fields_.clear();
         kind_.reset();
         positional_ = array;
         return;
      }
      refuse(path, "nested deeper than a request goes");
   }

   void close(JsonPath path, bool, std::size_t count) override {
      if (path.empty()) return finish();
      Top const t = top_;
      JsonPath const what = path;
      if (path.size() == 1) {
         if (t == Top::entry) entry_ = fields_;
         if (t == Top::key) request.entry.match = onlyKey(what);
         if (t == Top::filter) request.filter = filterOf(what);
         return;
      }
      if (t == Top::keys) {
         request.keys.push_back(onlyKey(what));
         return;
      }
      if (!kind_) throw ProtocolError(pathText(what) + " has no \"op\"");
      if (positional_) checkCount(what, count);
      Update u{*kind_, {}};
      build(u, fields_, what);
      request.updates.push_back(u);
   }

 private:
   static Top topOf(JsonStep const& step) {
      for (unsigned i = 0; i < kTopNames.size(); ++i) {
         if (kTopNames[i] == step.key) return Top(i);
      }
      throw ProtocolError("unknown field \"" + cutText(step.key) + "\"");
   }

   void top(JsonPath path, JsonScalar const& v) {
      Top const t = topOf(path[0]);
      given_ |= bit(t);
      auto const text = [&]() -> std::string_view {
         if (v.kind != Kind::string) refuse(path, std::string(v.typeName()) + ", not a string");
         return v.text;
      };
      switch (t) {
         case Top::v:
            if (v.kind != Kind::unsignedNumber && v.kind != Kind::negativeNumber) {
               refuse(path, std::string(v.typeName()) + ", not a version number");
            }
            version_ =
                v.kind == Kind::unsignedNumber ? std::to_string(v.number) : std::string(v.text);
            checkVersion();
            return;
         case Top::op: {
            std::optional<Op> const op = opNamed(text());
            if (!op) refuse(path, "unknown op \"" + cutText(v.text) + "\"");
            request.op = *op;
            return;
         }
         case Top::mode: {
            std::optional<BatchMode> const m = modeNamed(text());
            if (!m) {
               refuse(path,
                      "unknown mode \"" + cutText(v.text) + "\": use continue, rollback or dryRun");
            }
            request.mode = *m;
            return;
         }
         case Top::withDefault:
            if (v.kind != Kind::boolean)
               refuse(path, std::string(v.typeName()) + ", not a boolean");
            request.withDefault = v.boolean;
            return;
         case Top::expect:
            if (v.kind != Kind::unsignedNumber) {
               refuse(path, std::string(v.typeName()) + ", not a count of updates");
            }
            request.expect = v.number;
            return;
         case Top::pageSize:
            if (v.kind != Kind::unsignedNumber || v.number == 0 || v.number > kMaxPageSize) {
               refuse(path, "not a page size from 1 to " + std::to_string(kMaxPageSize));
            }
            request.pageSize = U32(v.number);
            return;
         default:
            refuse(path, std::string(v.typeName()) + " where a list or object was expected");
      }
   }

   void updateField(JsonPath path, JsonScalar const& v) {
      JsonStep const& at = path.back();
      if (positional_ ? at.index == 0 : at.key == "op") {
         std::optional<Op> const op = v.kind == Kind::string ? opNamed(v.text) : std::nullopt;
         kind_ = op ? updateKindOf(*op) : std::nullopt;
         if (!kind_) {
            refuse(path,
                   "not an update's op: use insert, modify, program, delete, defaultSet or "
                   "defaultReset");
         }
         return;
      }
      std::optional<F> f;
      if (positional_) {
         if (!kind_) refuse(path, "an update's list starts with its op");
         f = positionalField(*kind_, at.index, fields_);
         if (!f)
            refuse(path, "an element more than " + std::string(opName(opOf(*kind_))) + " takes");
      } else {
         f = entryFieldNamed(at.key);
         if (!f || *f == F::handle || *f == F::status) refuse(path, "unknown field");
      }
      fields_.take(*f, v, path);
   }

   void checkCount(JsonPath what, std::size_t count) const {
      std::size_t fewer = 5, more = 10;
      if (*kind_ == UpdateKind::remove) fewer = more = 4;
      if (*kind_ == UpdateKind::defaultSet) fewer = 2, more = 7;
      if (*kind_ == UpdateKind::defaultReset) fewer = more = 1;
      if (count != fewer && count != more) {
         throw ProtocolError(pathText(what) + ": " + std::string(opName(opOf(*kind_))) + " takes " +
                             std::to_string(fewer) +
                             (fewer != more ? " (onMiss) or " + std::to_string(more) : "") +
                             " elements, got " + std::to_string(count));
      }
   }

   MatchKey onlyKey(JsonPath what) const {
      noneOf(fields_, kActionFields, what, "a key");
      return fields_.key(what);
   }

   ShowFilter filterOf(JsonPath what) const {
      noneOf(fields_, kParamFields, what, "a filter");
      for (F f : {F::vrf, F::action}) {
         if (fields_.nulled(f)) {
            throw ProtocolError(pathText(what) + "." + std::string(entryFieldName(f)) +
                                ": null, not a value to filter by");
         }
      }
      ShowFilter s;
      if (auto d = fields_.value(F::dst)) s.key.dip = U32(*d);
      if (auto d = fields_.value(F::src)) s.key.sip = U32(*d);
      if (auto d = fields_.value(F::vrf)) s.key.vrf = U16(*d);
      if (auto d = fields_.value(F::action)) s.action = ActionKind(*d);
      return s;
   }

   // Checked as soon as it is read: a client of another version learns that first.
   void checkVersion() const {
      if (version_ != std::to_string(kProtocolVersion)) {
         throw ProtocolError("request is of protocol version " + version_ +
                             "; this agent speaks version " + std::to_string(kProtocolVersion));
      }
   }

   void finish() {
      if (version_.empty()) throw ProtocolError("request has no protocol version \"v\"");
      if (!(given_ & bit(Top::op))) throw ProtocolError("request has no \"op\"");
      Op const op = request.op;
      OpFields const f = fieldsOf(op);
      for (unsigned i = 2; i < kTopNames.size(); ++i) {
         std::string const name(kTopNames[i]);
         if ((given_ & ~f.takes) & (U32(1) << i)) {
            throw ProtocolError(std::string(opName(op)) + " takes no \"" + name + "\"");
         }
         if ((f.needs & ~given_) & (U32(1) << i)) {
            throw ProtocolError(std::string(opName(op)) + " needs \"" + name + "\"");
         }
      }
      if (given_ & bit(Top::entry)) {
         Update u{*updateKindOf(op), {}};
         JsonStep const entry{"entry"};
         build(u, entry_, JsonPath(&entry, 1));
         request.entry = u.entry;
      }
      if (op == Op::get && request.keys.empty() && !request.withDefault) {
         throw ProtocolError("get asks for nothing: give \"keys\" or \"default\": true");
      }
   }

   Top top_ = Top::v;    // of the value being read
   EntryFields fields_;  // of the record being read
   EntryFields entry_;   // of "entry", built once the op is known
   std::optional<UpdateKind> kind_;
   bool positional_ = false;
   U32 given_ = 0;
   std::string version_;
};

}  // namespace

Request parseRequest(std::string_view line) {
   if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
   Request r;
   if (line.size() <= kMaxRequestBytes && readCanonicalBatch(line, r)) return r;
   return parseRequestInFull(line);
}

Request parseRequestInFull(std::string_view line) {
   if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
   if (line.size() > kMaxRequestBytes) {
      throw ProtocolError("request longer than " + std::to_string(kMaxRequestBytes) + " bytes");
   }
   RequestReader reader;
   readJson(line, reader, JsonLimits{3, 16, 256});
   return std::move(reader.request);
}

}  // namespace TwiceNatService
