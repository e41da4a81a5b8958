// Entry readback through the BfRt table, by SDK entry handle.
#include "BfTwiceNatAddrOnly/bfrt/BfrtAccess.h"
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {
namespace {

// Out of line: every field read then makes its SDK call from one place, whose one target the
// indirect-branch predictor keeps, instead of eleven copies of the call that it may mix up.
[[gnu::noinline]] U64 readField(bfrt::BfRtTableKey const& key, U32 fieldId) {
   U64 value = 0;
   bfrtAccess::check(key.getValue(fieldId, &value));
   return value;
}

[[gnu::noinline]] U64 readField(bfrt::BfRtTableData const& data, U32 fieldId) {
   U64 value = 0;
   bfrtAccess::check(data.getValue(fieldId, &value));
   return value;
}

// The four parameters both hit actions share, in the order the SDK is read.
void readCommon(TwiceNatAddrOnlyBaseActionSpec& spec, bfrt::BfRtTableData const& data, U32 keyId,
                U32 rwId, U32 prot, U32 frag) {
   spec.keyIdIs(static_cast<U16>(readField(data, keyId)));
   spec.rwIdIs(static_cast<U16>(readField(data, rwId)));
   spec.protIs(static_cast<U8>(readField(data, prot)));
   spec.fragIs(static_cast<U8>(readField(data, frag)));
}

}  // namespace

TwiceNatAddrOnlyTableEntry TwiceNatAddrOnlyTableBfrt::entryByHandle(
    BfnTable::BfnSdkEntryHandle sdkHandle) const {
   static constexpr char kFn[] =
       "virtual BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry "
       "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::entryByHandle(BfnTable::BfnSdkEntryHandle) "
       "const";
   BF_TRACE(kFn, "entryByHandle");
   TwiceNatAddrOnlyTableHelper::PdLib const& pd = *helper()->pdLib();
   bfrt::BfRtSession const* session = bfrtAccess::session(pd);
   bfrt::TolvexBfRtTable const& table = *pd.bfRtTable;
   bfrt::BfRtTarget const target = bfrtAccess::target(*helper());
   BfrtModuleObjects const& m = bfrtAccess::module();
   bfrt::BfRtTableKey& key = *m.readKey;
   bfrt::BfRtTableData& data = *m.readData;

   bfrtAccess::check(table.keyReset(&key));
   bfrtAccess::check(table.dataReset(&data));
   U64 const flags = 0;
   U32 const handle = sdkHandle;
   if (table.tableEntryGet(*session, target, flags, handle, &key, &data) != 0) {
      return TwiceNatAddrOnlyTableEntry();
   }
   bfrt::bf_rt_id_t actionId = 0;
   bfrtAccess::check(data.actionIdGet(&actionId));

   // Values wider than an attribute keep their low bits.
   TwiceNatAddrOnlyMatchSpec::Ptr match = TwiceNatAddrOnlyMatchSpec::TwiceNatAddrOnlyMatchSpecIs();
   if (pd.hasVrfKeyField) match->l3InfoVrfIdIs(static_cast<U16>(readField(key, pd.vrfKeyFieldId)));
   match->outerIpv4HdrDipIs(static_cast<U32>(readField(key, pd.dipKeyFieldId)));
   match->outerIpv4HdrSipIs(static_cast<U32>(readField(key, pd.sipKeyFieldId)));

   TwiceNatAddrOnlyBaseActionSpec::PtrConst action;
   if (actionId == pd.actionIdOnMiss) {
      action = OnMissActionSpec::OnMissActionSpecIs();
   } else if (actionId == pd.actionIdHit) {
      TwiceNatAddrOnlyHitActionSpec::Ptr hit =
          TwiceNatAddrOnlyHitActionSpec::TwiceNatAddrOnlyHitActionSpecIs();
      readCommon(*hit, data, pd.hitKeyIdFieldId, pd.hitRwIdFieldId, pd.hitProtFieldId,
                 pd.hitFragFieldId);
      hit->nextHopIs(static_cast<U16>(readField(data, pd.hitNextHopFieldId)));
      action = std::move(hit);
   } else if (actionId == pd.actionIdHitEcmp) {
      TwiceNatAddrOnlyHitEcmpActionSpec::Ptr ecmp =
          TwiceNatAddrOnlyHitEcmpActionSpec::TwiceNatAddrOnlyHitEcmpActionSpecIs();
      readCommon(*ecmp, data, pd.hitEcmpKeyIdFieldId, pd.hitEcmpRwIdFieldId, pd.hitEcmpProtFieldId,
                 pd.hitEcmpFragFieldId);
      ecmp->ecmpGroupIs(static_cast<U16>(readField(data, pd.hitEcmpEcmpGroupFieldId)));
      action = std::move(ecmp);
   } else {
      return TwiceNatAddrOnlyTableEntry();
   }
   TwiceNatAddrOnlyTableEntry entry(std::move(match));
   entry.actionIs(std::move(action));
   return entry;
}

}  // namespace BfTwiceNatAddrOnly
