#include "EntryTextCanonical.h"

#include <cstring>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"

namespace BfTwiceNatAddrOnly {

namespace {

constexpr char kMatchClass[] = "BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec";
constexpr char kHitClass[] = "BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec";
constexpr char kEcmpClass[] = "BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitEcmpActionSpec";

// Reads literals and decimal numbers from the front of a text; every read that fails leaves
// the reader somewhere undefined, and the caller gives up on the whole text.
class Reader {
 public:
   explicit Reader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

   bool lit(std::string_view s) {
      if (static_cast<std::size_t>(end_ - p_) < s.size() || std::memcmp(p_, s.data(), s.size())) {
         return false;
      }
      p_ += s.size();
      return true;
   }
   // At least one digit, and a value no greater than `max`.
   bool num(U64 max, U64& v) {
      char const* const start = p_;
      v = 0;
      for (; p_ < end_ && *p_ >= '0' && *p_ <= '9'; ++p_) {
         v = v * 10 + static_cast<U64>(*p_ - '0');
         if (v > max) return false;
      }
      return p_ != start;
   }
   std::size_t consumed(std::string_view text) const {
      return static_cast<std::size_t>(p_ - text.data());
   }

 private:
   char const* p_;
   char const* end_;
};

constexpr U64 kU8 = 0xFF, kU16 = 0xFFFF, kU32 = 0xFFFFFFFF;

bool registered(char const* name, Zin::TypeDescriptor const& type) {
   return Zin::TypeRegistry::instance().type(name) == &type;
}

TwiceNatAddrOnlyMatchSpec::Ptr matchRead(Reader& r) {
   U64 dip = 0, sip = 0, vrf = 0, isSet = 0;
   if (!r.lit("Object('") || !r.lit(kMatchClass) || !r.lit("', ** {'outerIpv4HdrDip': ") ||
       !r.num(kU32, dip) || !r.lit(", 'outerIpv4HdrSip': ") || !r.num(kU32, sip)) {
      return nullptr;
   }
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   m->outerIpv4HdrDipIs(static_cast<U32>(dip));
   m->outerIpv4HdrSipIs(static_cast<U32>(sip));
   if (r.lit(", 'l3InfoVrfId': ")) {
      if (!r.num(kU16, vrf)) return nullptr;
      m->l3InfoVrfIdIs(static_cast<U16>(vrf));
   }
   // The two marks follow from the fields: the text must say what they are.
   if (!r.lit(", 'isSet': ") || !r.num(kU8, isSet) || isSet != m->isSet() ||
       !r.lit(", 'l3InfoVrfIdIsSet': ") || !r.lit(m->l3InfoVrfIdIsSet() ? "True" : "False") ||
       !r.lit("})")) {
      return nullptr;
   }
   return m;
}

template <class Action>
bool actionFieldsRead(Reader& r, Action& a, std::string_view last, void (Action::*lastIs)(U16)) {
   U64 frag = 0, keyId = 0, prot = 0, rwId = 0, target = 0;
   if (!r.lit(", 'frag': ") || !r.num(kU8, frag) || !r.lit(", 'keyId': ") || !r.num(kU16, keyId) ||
       !r.lit(", 'prot': ") || !r.num(kU8, prot) || !r.lit(", 'rwId': ") || !r.num(kU16, rwId) ||
       !r.lit(last) || !r.num(kU16, target) || !r.lit("})")) {
      return false;
   }
   a.fragIs(static_cast<U8>(frag));
   a.keyIdIs(static_cast<U16>(keyId));
   a.protIs(static_cast<U8>(prot));
   a.rwIdIs(static_cast<U16>(rwId));
   (a.*lastIs)(static_cast<U16>(target));
   return true;
}

TwiceNatAddrOnlyBaseActionSpec::Ptr actionRead(Reader& r) {
   if (!r.lit("Object('")) return nullptr;
   if (r.lit(kHitClass)) {
      if (!registered(kHitClass, TwiceNatAddrOnlyHitActionSpec::type()) ||
          !r.lit("', ** {'actionType': twiceNatAddrOnlyHitActionSpec")) {
         return nullptr;
      }
      auto a = twiceNatAddrOnlyHitActionSpecFactory();
      if (!actionFieldsRead(r, *a, ", 'nextHop': ", &TwiceNatAddrOnlyHitActionSpec::nextHopIs)) {
         return nullptr;
      }
      return a;
   }
   if (r.lit(kEcmpClass)) {
      if (!registered(kEcmpClass, TwiceNatAddrOnlyHitEcmpActionSpec::type()) ||
          !r.lit("', ** {'actionType': twiceNatAddrOnlyHitEcmpActionSpec")) {
         return nullptr;
      }
      auto a = twiceNatAddrOnlyHitEcmpActionSpecFactory();
      if (!actionFieldsRead(r, *a,
                            ", 'ecmpGroup': ", &TwiceNatAddrOnlyHitEcmpActionSpec::ecmpGroupIs)) {
         return nullptr;
      }
      return a;
   }
   return nullptr;
}

}  // namespace

bool canonicalEntryRead(Zin::CharRange& in, TwiceNatAddrOnlyMatchSpec::PtrConst& match,
                        TwiceNatAddrOnlyBaseActionSpec::PtrConst& action) {
   // The generic reader refuses objects nested too deep; leave such text to it.
   if (!Zin::parseDepthLeft()) return false;
   std::string_view const text = in.rest();
   Reader r(text);
   if (!r.lit(kEntryStrepOpen) || !r.lit(kEntryStrepMatch)) return false;
   TwiceNatAddrOnlyMatchSpec::Ptr m = matchRead(r);
   if (!m || !registered(kMatchClass, TwiceNatAddrOnlyMatchSpec::type()) ||
       !r.lit(kEntryStrepAction)) {
      return false;
   }
   TwiceNatAddrOnlyBaseActionSpec::Ptr a = actionRead(r);
   if (!a || !r.lit(kEntryStrepClose)) return false;
   match = m;
   action = a;
   in.advance(r.consumed(text));
   return true;
}

}  // namespace BfTwiceNatAddrOnly
