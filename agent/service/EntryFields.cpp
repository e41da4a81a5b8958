#include "agent/service/EntryFields.h"

#include <array>
#include <charconv>

#include "agent/service/Messages.h"

namespace TwiceNatService {

namespace {

constexpr std::array<std::string_view, unsigned(EntryField::count)> kFieldNames = {
    "dst",  "src",  "vrf",     "action",    "keyId",  "rwId",
    "prot", "frag", "nextHop", "ecmpGroup", "handle", "status"};

// The largest value of each numeric field.
constexpr U64 maxOf(EntryField f) {
   switch (f) {
      case EntryField::prot:
      case EntryField::frag:
         return 0xFF;
      case EntryField::handle:
         return 0xFFFFFFFF;
      default:
         return 0xFFFF;
   }
}

std::string quoted(std::string_view text) {
   std::string t = "\"";
   t += text.size() > 40 ? std::string(text.substr(0, 37)) + "..." : std::string(text);
   return t + "\"";
}

[[noreturn]] void refuse(JsonPath path, std::string const& why) {
   throw ProtocolError(pathText(path) + ": " + why);
}

}  // namespace

DottedQuad parseDottedQuad(std::string_view text) {
   DottedQuad q;
   std::string_view rest = text;
   for (int part = 0; part < 4; ++part) {
      std::size_t const dot = rest.find('.');
      std::string_view const digits = part < 3 ? rest.substr(0, dot) : rest;
      if ((part < 3 && dot == std::string_view::npos) || digits.empty() || digits.size() > 3 ||
          digits.find_first_not_of("0123456789") != std::string_view::npos) {
         return {0, "is not an IPv4 address A.B.C.D"};
      }
      if (digits.size() > 1 && digits[0] == '0') return {0, "has a part with a leading zero"};
      U32 v = 0;
      std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (v > 255) return {0, "has a part above 255"};
      q.value = q.value << 8 | v;
      if (part < 3) rest = rest.substr(dot + 1);
   }
   return q;
}

std::string_view actionKindName(ActionKind kind) {
   switch (kind) {
      case ActionKind::onMiss:
         return "onMiss";
      case ActionKind::hit:
         return "hit";
      case ActionKind::ecmp:
         return "ecmp";
   }
   return "?";
}

std::optional<ActionKind> actionKindNamed(std::string_view name) {
   for (ActionKind k : {ActionKind::onMiss, ActionKind::hit, ActionKind::ecmp}) {
      if (actionKindName(k) == name) return k;
   }
   return std::nullopt;
}

std::string_view originName(EntryOrigin origin) {
   switch (origin) {
      case EntryOrigin::programmed:
         return "programmed";
      case EntryOrigin::resynced:
         return "resynced";
      case EntryOrigin::missingOnChip:
         return "missing on chip";
   }
   return "?";
}

std::optional<EntryField> entryFieldNamed(std::string_view name) {
   for (unsigned i = 0; i < kFieldNames.size(); ++i) {
      if (kFieldNames[i] == name) return EntryField(i);
   }
   return std::nullopt;
}

std::string_view entryFieldName(EntryField field) {
   return kFieldNames[unsigned(field)];
}

void EntryFields::take(EntryField f, JsonScalar const& v, JsonPath path) {
   using Kind = JsonScalar::Kind;
   U64 value = 0;
   bool const nullable = f == EntryField::vrf || f == EntryField::action;
   if (v.kind == Kind::null && nullable) {
      nulled_ |= bit(f);
   } else if (f == EntryField::dst || f == EntryField::src) {
      if (v.kind != Kind::string) refuse(path, std::string(v.typeName()) + ", not an address");
      DottedQuad const q = parseDottedQuad(v.text);
      if (q.problem) refuse(path, quoted(v.text) + " " + q.problem);
      value = q.value;
   } else if (f == EntryField::action) {
      if (v.kind != Kind::string) refuse(path, std::string(v.typeName()) + ", not an action");
      std::optional<ActionKind> const k = actionKindNamed(v.text);
      if (!k) refuse(path, "unknown action " + quoted(v.text) + ": use onMiss, hit or ecmp");
      value = U64(*k);
   } else if (f == EntryField::status) {
      if (v.kind != Kind::string) refuse(path, std::string(v.typeName()) + ", not a status");
      std::optional<EntryOrigin> origin;
      for (EntryOrigin o :
           {EntryOrigin::programmed, EntryOrigin::resynced, EntryOrigin::missingOnChip}) {
         if (originName(o) == v.text) origin = o;
      }
      if (!origin) refuse(path, "unknown status " + quoted(v.text));
      value = U64(*origin);
   } else {
      if (v.kind != Kind::unsignedNumber) {
         refuse(path, v.kind == Kind::negativeNumber || v.kind == Kind::fraction
                          ? std::string(v.text) + " is not a whole number from 0"
                          : std::string(v.typeName()) + ", not a number");
      }
      if (v.number > maxOf(f)) {
         refuse(path, std::to_string(v.number) + " is out of range (0 to " +
                          std::to_string(maxOf(f)) + ")");
      }
      value = v.number;
   }
   values_[unsigned(f)] = value;
   given_ |= bit(f);
}

bool EntryFields::anyGiven(std::initializer_list<EntryField> fields) const {
   return firstGiven(fields).has_value();
}

std::optional<EntryField> EntryFields::firstGiven(std::initializer_list<EntryField> fields) const {
   for (EntryField f : fields) {
      if (given(f)) return f;
   }
   return std::nullopt;
}

MatchKey EntryFields::key(JsonPath where) const {
   for (EntryField f : {EntryField::dst, EntryField::src}) {
      if (!given(f) || (nulled_ & bit(f))) {
         throw ProtocolError(pathText(where) + " has no \"" + std::string(entryFieldName(f)) +
                             "\"");
      }
   }
   MatchKey k;
   k.dip = U32(values_[unsigned(EntryField::dst)]);
   k.sip = U32(values_[unsigned(EntryField::src)]);
   k.vrfGiven = given(EntryField::vrf) && !(nulled_ & bit(EntryField::vrf));
   k.vrf = k.vrfGiven ? U16(values_[unsigned(EntryField::vrf)]) : 0;
   return k;
}

ActionValues EntryFields::action(JsonPath where) const {
   if (!given(EntryField::action) || (nulled_ & bit(EntryField::action))) {
      throw ProtocolError(pathText(where) + " has no \"action\"");
   }
   ActionValues a;
   a.kind = ActionKind(values_[unsigned(EntryField::action)]);
   auto const extra = [&](std::initializer_list<EntryField> fields, std::string const& why) {
      if (auto f = firstGiven(fields)) {
         throw ProtocolError(pathText(where) + ": \"" + std::string(entryFieldName(*f)) + "\" " +
                             why);
      }
   };
   if (a.kind == ActionKind::onMiss) {
      extra({EntryField::keyId, EntryField::rwId, EntryField::prot, EntryField::frag,
             EntryField::nextHop, EntryField::ecmpGroup},
            "given, but action onMiss takes no parameters");
      return a;
   }
   bool const hit = a.kind == ActionKind::hit;
   EntryField const want = hit ? EntryField::nextHop : EntryField::ecmpGroup;
   extra({hit ? EntryField::ecmpGroup : EntryField::nextHop},
         std::string("does not go with action ") + (hit ? "hit" : "ecmp"));
   if (!given(want)) {
      throw ProtocolError(pathText(where) + ": action " + std::string(actionKindName(a.kind)) +
                          " needs \"" + std::string(entryFieldName(want)) + "\"");
   }
   a.keyId = U16(values_[unsigned(EntryField::keyId)] * given(EntryField::keyId));
   a.rwId = U16(values_[unsigned(EntryField::rwId)] * given(EntryField::rwId));
   a.prot = U8(values_[unsigned(EntryField::prot)] * given(EntryField::prot));
   a.frag = U8(values_[unsigned(EntryField::frag)] * given(EntryField::frag));
   a.target = U16(values_[unsigned(want)]);
   return a;
}

EntryRow EntryFields::row(JsonPath where) const {
   EntryRow r;
   if (given(EntryField::dst) || given(EntryField::src)) r.entry.match = key(where);
   r.handle = U32(values_[unsigned(EntryField::handle)] * given(EntryField::handle));
   if (given(EntryField::status)) r.origin = EntryOrigin(values_[unsigned(EntryField::status)]);
   bool const lost = (nulled_ & bit(EntryField::action)) != 0;
   if (lost) {
      r.origin = EntryOrigin::missingOnChip;
   } else {
      r.entry.action = action(where);
   }
   return r;
}

void appendNumber(std::string& out, U64 n) {
   char buffer[24];
   auto const end = std::to_chars(buffer, buffer + sizeof buffer, n).ptr;
   out.append(buffer, end);
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i] (1 to 4), or 0 when its bytes are
// none: a stray continuation byte, an overlong form, a surrogate, past U+10FFFF, or cut short.
std::size_t utf8Length(std::string_view text, std::size_t i) {
   auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
   unsigned const lead = at(0);
   if (lead < 0x80) return 1;
   std::size_t n = 0;
   unsigned lo = 0x80, hi = 0xBF;  // the second byte's range
   if (lead >= 0xC2 && lead <= 0xDF) {
      n = 2;
   } else if (lead >= 0xE0 && lead <= 0xEF) {
      n = 3;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
   } else if (lead >= 0xF0 && lead <= 0xF4) {
      n = 4;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
   } else {
      return 0;
   }
   if (i + n > text.size() || at(1) < lo || at(1) > hi) return 0;
   for (std::size_t k = 2; k < n; ++k) {
      if (at(k) < 0x80 || at(k) > 0xBF) return 0;
   }
   return n;
}

}  // namespace

void appendString(std::string& out, std::string_view text) {
   static constexpr char kHex[] = "0123456789abcdef";
   out += '"';
   for (std::size_t i = 0; i < text.size();) {
      char const c = text[i];
      auto const u = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
         (out += '\\') += c;
      } else if (u < 0x20) {
         ((out += "\\u00") += kHex[u >> 4]) += kHex[u & 15];
      } else if (u >= 0x80) {
         // A message may quote a client's bytes; what is no UTF-8 goes as U+FFFD, so that the
         // reply stays JSON.
         std::size_t const n = utf8Length(text, i);
         if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
         }
         out.append(text.substr(i, n));
         i += n;
         continue;
      } else {
         out += c;
      }
      ++i;
   }
   out += '"';
}

namespace {

// A comma after a value before; none at the start of an object, list, field or line.
void comma(std::string& out) {
   if (out.empty()) return;
   switch (out.back()) {
      case '{':
      case '[':
      case ':':
      case ',':
      case '\n':
         return;
      default:
         out += ',';
   }
}

void appendField(std::string& out, std::string_view name, U64 n) {
   comma(out);
   ((out += '"') += name) += "\":";
   appendNumber(out, n);
}

void appendAddress(std::string& out, U32 a) {
   out += '"';
   appendNumber(out, a >> 24);
   for (int shift : {16, 8, 0}) {
      out += '.';
      appendNumber(out, a >> shift & 0xFF);
   }
   out += '"';
}

}  // namespace

void appendKey(std::string& out, MatchKey const& k) {
   comma(out);
   out += "\"dst\":";
   appendAddress(out, k.dip);
   out += ",\"src\":";
   appendAddress(out, k.sip);
   out += ",\"vrf\":";
   if (k.vrfGiven) {
      appendNumber(out, k.vrf);
   } else {
      out += "null";
   }
}

void appendAction(std::string& out, ActionValues const& a) {
   comma(out);
   ((out += "\"action\":\"") += actionKindName(a.kind)) += '"';
   if (a.kind == ActionKind::onMiss) return;
   appendField(out, "keyId", a.keyId);
   appendField(out, "rwId", a.rwId);
   appendField(out, "prot", a.prot);
   appendField(out, "frag", a.frag);
   appendField(out, a.kind == ActionKind::hit ? "nextHop" : "ecmpGroup", a.target);
}

void appendRow(std::string& out, EntryRow const& r, bool withKey) {
   comma(out);
   out += '{';
   appendField(out, "handle", r.handle);
   ((out += ",\"status\":\"") += originName(r.origin)) += '"';
   if (withKey) appendKey(out, r.entry.match);
   if (r.origin == EntryOrigin::missingOnChip) {
      out += ",\"action\":null";
   } else {
      appendAction(out, r.entry.action);
   }
   out += '}';
}

void appendUpdate(std::string& out, Update const& u) {
   comma(out);
   ((out += "[\"") += opName(opOf(u.kind))) += '"';
   auto const number = [&out](U64 n) {
      out += ',';
      appendNumber(out, n);
   };
   bool const keyed = u.kind != UpdateKind::defaultSet && u.kind != UpdateKind::defaultReset;
   if (keyed) {
      out += ',';
      appendAddress(out, u.entry.match.dip);
      out += ',';
      appendAddress(out, u.entry.match.sip);
      if (u.entry.match.vrfGiven) {
         number(u.entry.match.vrf);
      } else {
         out += ",null";
      }
   }
   if (u.kind != UpdateKind::remove && u.kind != UpdateKind::defaultReset) {
      ActionValues const& a = u.entry.action;
      ((out += ",\"") += actionKindName(a.kind)) += '"';
      if (a.kind != ActionKind::onMiss) {
         for (U64 n : {U64(a.keyId), U64(a.rwId), U64(a.prot), U64(a.frag), U64(a.target)})
            number(n);
      }
   }
   out += ']';
}

}  // namespace TwiceNatService
