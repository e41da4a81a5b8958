#include "agent/core/EntrySpecs.h"

namespace TwiceNatAgent {

using namespace BfTwiceNatAddrOnly;

std::string_view p4ActionName(ActionKind kind) {
   switch (kind) {
      case ActionKind::onMiss:
         return "onMiss";
      case ActionKind::hit:
         return "twiceNatAddrOnlyHit";
      case ActionKind::ecmp:
         return "twiceNatAddrOnlyHitEcmp";
   }
   return "?";
}

MatchSpecPtr matchSpecOf(MatchKey const& key) {
   TwiceNatAddrOnlyMatchSpec::Ptr m = twiceNatAddrOnlyMatchSpecFactory();
   m->outerIpv4HdrDipIs(key.dip);
   m->outerIpv4HdrSipIs(key.sip);
   if (key.vrfGiven) m->l3InfoVrfIdIs(key.vrf);
   return m;
}

ActionSpecPtr actionSpecOf(ActionValues const& a) {
   auto params = [&a](TwiceNatAddrOnlyBaseActionSpec& spec) {
      spec.keyIdIs(a.keyId);
      spec.rwIdIs(a.rwId);
      spec.protIs(a.prot);
      spec.fragIs(a.frag);
   };
   switch (a.kind) {
      case ActionKind::onMiss:
         return onMissActionSpecFactory();
      case ActionKind::hit: {
         auto hit = twiceNatAddrOnlyHitActionSpecFactory();
         params(*hit);
         hit->nextHopIs(a.target);
         return hit;
      }
      case ActionKind::ecmp: {
         auto ecmp = twiceNatAddrOnlyHitEcmpActionSpecFactory();
         params(*ecmp);
         ecmp->ecmpGroupIs(a.target);
         return ecmp;
      }
   }
   return nullptr;
}

MatchKey matchKeyOf(TwiceNatAddrOnlyMatchSpec const& m) {
   return MatchKey{m.outerIpv4HdrDip(), m.outerIpv4HdrSip(), m.l3InfoVrfId(), m.l3InfoVrfIdIsSet()};
}

std::optional<ActionValues> actionValuesOf(TwiceNatAddrOnlyBaseActionSpec const& spec) {
   ActionValues a;
   a.keyId = spec.keyId();
   a.rwId = spec.rwId();
   a.prot = spec.prot();
   a.frag = spec.frag();
   switch (spec.actionType()) {
      case onMissActionSpec:
         if (!dynamic_cast<OnMissActionSpec const*>(&spec)) return std::nullopt;
         return ActionValues{};
      case twiceNatAddrOnlyHitActionSpec:
         if (auto const* hit = dynamic_cast<TwiceNatAddrOnlyHitActionSpec const*>(&spec)) {
            a.kind = ActionKind::hit;
            a.target = hit->nextHop();
            return a;
         }
         return std::nullopt;
      case twiceNatAddrOnlyHitEcmpActionSpec:
         if (auto const* ecmp = dynamic_cast<TwiceNatAddrOnlyHitEcmpActionSpec const*>(&spec)) {
            a.kind = ActionKind::ecmp;
            a.target = ecmp->ecmpGroup();
            return a;
         }
         return std::nullopt;
   }
   return std::nullopt;
}

std::string dotted(U32 a) {
   return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 0xFF) + "." +
          std::to_string(a >> 8 & 0xFF) + "." + std::to_string(a & 0xFF);
}

std::string keyText(MatchKey const& key) {
   std::string t = "dst " + dotted(key.dip) + " src " + dotted(key.sip);
   if (key.vrfGiven) t += " vrf " + std::to_string(key.vrf);
   return t;
}

}  // namespace TwiceNatAgent
