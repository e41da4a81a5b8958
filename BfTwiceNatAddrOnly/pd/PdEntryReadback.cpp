#include <string_view>

#include "BfTwiceNatAddrOnly/pd/PdNames.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {

namespace {

template <class Spec>
Pemra::Ptr<Spec> hitActionFrom(BfPdTwiceNatAddrOnly::HitSpec const& pdSpec) {
   Pemra::Ptr<Spec> action = new Spec();
   action->keyIdIs(pdSpec.action_keyId);
   action->rwIdIs(pdSpec.action_rwId);
   action->protIs(pdSpec.action_prot);
   action->fragIs(pdSpec.action_frag);
   return action;
}

}  // namespace

TwiceNatAddrOnlyTableEntry TwiceNatAddrOnlyTablePd::entryByHandle(
    BfnTable::BfnSdkEntryHandle sdkHandle) const {
   BF_TRACE(pd::kEntryByHandleFn, "entryByHandle");
   // By reference: a count taken and dropped on each shared object costs a look-up or a resync
   // step more than the read itself.
   TwiceNatAddrOnlyTableHelper const& helper = *this->helper();
   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf const& pdLib = *helper.pdLib();
   BfPdTwiceNatAddrOnly::MatchSpec pdMatch{};
   BfPdTwiceNatAddrOnly::HitSpec pdAction{};
   char actionName[BfPdTwiceNatAddrOnly::kActionNameSize] = {};
   uint8_t ttl = 0;
   BfPdTwiceNatAddrOnly::Status status =
       pdLib.getEntry(pdLib.sessionId, helper.deviceId(), sdkHandle, false, &pdMatch, actionName,
                      &pdAction, nullptr, &ttl);
   if (status != 0) return TwiceNatAddrOnlyTableEntry();
   // A name that fills the buffer is no name of this table; never read past it.
   actionName[sizeof actionName - 1] = '\0';
   std::string_view const name(actionName);

   TwiceNatAddrOnlyBaseActionSpec::PtrConst action;
   if (name == pd::kOnMissName) {
      action = onMissActionSpecFactory();
   } else if (name == pd::kHitName) {
      auto hit = hitActionFrom<TwiceNatAddrOnlyHitActionSpec>(pdAction);
      hit->nextHopIs(pdAction.action_nextHop);
      action = std::move(hit);
   } else if (name == pd::kHitEcmpName) {
      // Both hit actions share one layout; the last field is the ECMP group here.
      auto hit = hitActionFrom<TwiceNatAddrOnlyHitEcmpActionSpec>(pdAction);
      hit->ecmpGroupIs(pdAction.action_nextHop);
      action = std::move(hit);
   } else {
      return TwiceNatAddrOnlyTableEntry();
   }

   TwiceNatAddrOnlyMatchSpec::Ptr match = twiceNatAddrOnlyMatchSpecFactory();
   match->outerIpv4HdrDipIs(pdMatch.outerIpv4HdrDip);
   match->outerIpv4HdrSipIs(pdMatch.outerIpv4HdrSip);
   // The SDK always holds a VRF, so the read-back spec always has it set.
   match->l3InfoVrfIdIs(pdMatch.l3InfoVrfId);
   TwiceNatAddrOnlyTableEntry entry(std::move(match));
   entry.actionIs(std::move(action));
   return entry;
}

}  // namespace BfTwiceNatAddrOnly
