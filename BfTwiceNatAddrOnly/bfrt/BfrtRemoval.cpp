// Entry removal through the BfRt table: delete by handle, or reset the default action.
#include "BfTwiceNatAddrOnly/bfrt/BfrtAccess.h"
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {

void TwiceNatAddrOnlyTableBfrt::entryDel(TwiceNatAddrOnlyMatchSpec::PtrConst const& matchArg) {
   static constexpr char kFn[] =
       "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::entryDel(const PtrConst&)";
   // Our own count: the caller's pointer may be the handle map's key, which goes below.
   TwiceNatAddrOnlyMatchSpec::PtrConst const match = matchArg;
   BF_TRACE(kFn, kFn << ", matchSpec: " << static_cast<void const*>(match.ptr()));
   TwiceNatAddrOnlyTableHandles& handles = *helper()->sdkHandles();
   TwiceNatAddrOnlyTableHandles::Position const at = handles.entryPosition(match);
   BF_CHECK(at.value() != nullptr, "helper()->sdkHandles()->entryHas( match )", kFn);
   BfnTable::BfnSdkEntryHandle const entry_hdl = *at.value();
   if (statusManager()) statusManager()->initStatus(match);

   TwiceNatAddrOnlyTableHelper::PdLib const& pd = *helper()->pdLib();
   bfrt::BfRtSession const* session = bfrtAccess::session(pd);
   bfrt::TolvexBfRtTable const& table = *pd.bfRtTable;
   bfrt::BfRtTarget const target = bfrtAccess::target(*helper());

   // Forgotten before the SDK is asked: after a failure the library no longer claims the entry.
   handles.entryDel(at, match);

   char const* label;
   bfrt::bf_status_t st;
   if (defaultMatchSpec().ptr() == match.ptr()) {
      label = "twiceNatAddrOnly_tableDefaultEntryReset";
      st = table.tableDefaultEntryReset(*session, target);
   } else {
      BF_CHECK(!!entry_hdl, "!!entry_hdl", kFn);
      label = "twiceNatAddrOnly_tableEntryDel";
      session = bfrtAccess::session(pd);
      st = table.tableEntryDelByHandle(*session, target, entry_hdl);
   }
   if (st != 0) throwBfrtEntryOpFailure(label, st);
}

}  // namespace BfTwiceNatAddrOnly
