#include "agent/service/CanonicalLines.h"

#include <cstring>
#include <initializer_list>

#include "agent/service/EntryFields.h"
#include "agent/service/RequestCodec.h"

namespace TwiceNatService {

namespace {

// A cursor that takes only what the writers put: each step moves on and says true, or says
// false and leaves the line to the general reader.
class Cursor {
 public:
   explicit Cursor(std::string_view line) : p_(line.data()), end_(line.data() + line.size()) {
      if (p_ != end_ && end_[-1] == '\n') --end_;
   }
   bool atEnd() const { return p_ == end_; }

   bool lit(std::string_view l) {
      if (std::size_t(end_ - p_) < l.size() || std::memcmp(p_, l.data(), l.size()) != 0) {
         return false;
      }
      p_ += l.size();
      return true;
   }
   // A quoted name followed by its closing quote: "hit" is not taken from "hitch".
   bool name(std::string_view n) {
      char const* const at = p_;
      if (lit(n) && lit("\"")) return true;
      p_ = at;
      return false;
   }
   // Digits as std::to_chars writes them: no sign, no leading zero; up to 19 digits, which no
   // U64 overflows. A fraction or exponent fails the structural character the caller expects
   // next.
   bool number(U64 max, U64& out) {
      char const* q = p_;
      U64 v = 0;
      while (q != end_ && unsigned(*q - '0') < 10 && q - p_ < 20) {
         v = v * 10 + U64(*q - '0');
         ++q;
      }
      std::size_t const digits = std::size_t(q - p_);
      if (digits == 0 || digits > 19 || (digits > 1 && *p_ == '0') || v > max) return false;
      p_ = q;
      out = v;
      return true;
   }
   // "A.B.C.D" in the form parseDottedQuad takes.
   bool address(U32& out) {
      if (!lit("\"")) return false;
      U32 a = 0;
      for (int part = 0; part < 4; ++part) {
         U64 v = 0;
         if ((part > 0 && !lit(".")) || !number(255, v)) return false;
         a = a << 8 | U32(v);
      }
      if (!lit("\"")) return false;
      out = a;
      return true;
   }
   // A number or null: a VRF.
   bool vrf(MatchKey& k) {
      if (lit("null")) {
         k.vrf = 0;
         k.vrfGiven = false;
         return true;
      }
      U64 v = 0;
      if (!number(0xFFFF, v)) return false;
      k.vrf = U16(v);
      k.vrfGiven = true;
      return true;
   }
   // One of `all` by its name, which `nameOf` gives, quoted; the opening quote is taken.
   template <typename T, typename NameOf>
   bool oneOf(std::initializer_list<T> all, NameOf nameOf, T& out) {
      for (T k : all) {
         if (name(nameOf(k))) {
            out = k;
            return true;
         }
      }
      return false;
   }
   bool kind(ActionKind& out) {
      return oneOf({ActionKind::hit, ActionKind::ecmp, ActionKind::onMiss}, actionKindName, out);
   }

 private:
   char const* p_;
   char const* end_;
};

// The parameters of a hit or ECMP action, each preceded by its label (a row's named fields) or
// by a comma alone (an update's list).
bool parameters(Cursor& c, ActionValues& a, bool named) {
   static constexpr std::string_view kLabels[] = {
       ",\"keyId\":", ",\"rwId\":", ",\"prot\":", ",\"frag\":"};
   static constexpr U64 kMax[] = {0xFFFF, 0xFFFF, 0xFF, 0xFF};
   U64 v[5] = {};
   for (int i = 0; i < 4; ++i) {
      if (!c.lit(named ? kLabels[i] : ",") || !c.number(kMax[i], v[i])) return false;
   }
   std::string_view const target = a.kind == ActionKind::hit ? ",\"nextHop\":" : ",\"ecmpGroup\":";
   if (!c.lit(named ? target : ",") || !c.number(0xFFFF, v[4])) return false;
   a.keyId = U16(v[0]);
   a.rwId = U16(v[1]);
   a.prot = U8(v[2]);
   a.frag = U8(v[3]);
   a.target = U16(v[4]);
   return true;
}

// {"handle":..,"status":..,["dst":..,"src":..,"vrf":..,]"action":..[,params]}
bool row(Cursor& c, EntryRow& r, bool withKey) {
   U64 handle = 0;
   if (!c.lit("{\"handle\":") || !c.number(0xFFFFFFFF, handle) || !c.lit(",\"status\":\"")) {
      return false;
   }
   r = EntryRow{};
   r.handle = U32(handle);
   if (!c.oneOf({EntryOrigin::programmed, EntryOrigin::resynced, EntryOrigin::missingOnChip},
                originName, r.origin)) {
      return false;
   }
   if (withKey) {
      MatchKey& k = r.entry.match;
      if (!c.lit(",\"dst\":") || !c.address(k.dip) || !c.lit(",\"src\":") || !c.address(k.sip) ||
          !c.lit(",\"vrf\":") || !c.vrf(k)) {
         return false;
      }
   }
   if (!c.lit(",\"action\":")) return false;
   if (c.lit("null")) {
      // The chip lost the entry.
      r.origin = EntryOrigin::missingOnChip;
   } else {
      ActionValues& a = r.entry.action;
      if (!c.lit("\"") || !c.kind(a.kind)) return false;
      if (a.kind != ActionKind::onMiss && !parameters(c, a, true)) return false;
   }
   return c.lit("}");
}

// ["op",dst,src,vrf,"action",keyId,rwId,prot,frag,target] less what the op does not take.
bool update(Cursor& c, Update& u) {
   if (!c.lit("[\"") || !c.oneOf(
                            {UpdateKind::program, UpdateKind::insert, UpdateKind::modify,
                             UpdateKind::remove, UpdateKind::defaultSet, UpdateKind::defaultReset},
                            [](UpdateKind k) { return opName(opOf(k)); }, u.kind)) {
      return false;
   }
   u.entry = EntrySpec{};
   bool const keyed = u.kind != UpdateKind::defaultSet && u.kind != UpdateKind::defaultReset;
   bool const acts = u.kind != UpdateKind::remove && u.kind != UpdateKind::defaultReset;
   MatchKey& k = u.entry.match;
   if (keyed && (!c.lit(",") || !c.address(k.dip) || !c.lit(",") || !c.address(k.sip) ||
                 !c.lit(",") || !c.vrf(k))) {
      return false;
   }
   if (acts) {
      ActionValues& a = u.entry.action;
      if (!c.lit(",\"") || !c.kind(a.kind)) return false;
      if (a.kind != ActionKind::onMiss && !parameters(c, a, false)) return false;
   }
   return c.lit("]");
}

}  // namespace

bool readCanonicalBatch(std::string_view line, Request& out) {
   Cursor c(line);
   Request r;
   if (!c.lit("{\"v\":2,\"op\":\"")) return false;
   if (c.lit("apply\",\"mode\":\"")) {
      r.op = Op::apply;
      if (!c.oneOf({BatchMode::continueOnError, BatchMode::rollbackOnError, BatchMode::dryRun},
                   modeName, r.mode)) {
         return false;
      }
   } else if (c.lit("part\"")) {
      r.op = Op::part;
   } else {
      return false;
   }
   if (!c.lit(",\"updates\":[")) return false;
   for (bool more = !c.lit("]"); more; more = c.lit(",")) {
      if (r.updates.size() == kMaxBatchUpdates) return false;
      if (!update(c, r.updates.emplace_back())) return false;
   }
   if (!r.updates.empty() && !c.lit("]")) return false;
   if (!c.lit("}") || !c.atEnd()) return false;
   out = std::move(r);
   return true;
}

bool readCanonicalPage(std::string_view line, Page& page) {
   Cursor c(line);
   page.rows.clear();
   page.defaultRow.reset();
   page.status = {};
   page.matching = page.total = 0;
   if (!c.lit("{\"v\":2,\"code\":\"OK\",\"entries\":[")) return false;
   for (bool more = !c.lit("]"); more; more = c.lit(",")) {
      if (!row(c, page.rows.emplace_back(), true)) return false;
   }
   if (!page.rows.empty() && !c.lit("]")) return false;
   if (c.lit(",\"last\":false}")) {
      page.last = false;
      return c.atEnd();
   }
   page.last = true;
   if (!c.lit(",\"last\":true,\"matching\":") || !c.number(~U64(0), page.matching) ||
       !c.lit(",\"total\":") || !c.number(~U64(0), page.total) || !c.lit(",\"default\":")) {
      return false;
   }
   if (!c.lit("null")) {
      if (!row(c, page.defaultRow.emplace(), false)) return false;
   }
   return c.lit("}") && c.atEnd();
}

}  // namespace TwiceNatService
