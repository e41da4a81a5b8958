#include "BfTwiceNatAddrOnly/pd/PdNames.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfTwiceNatAddrOnly/table/SdkStatus.h"

namespace BfTwiceNatAddrOnly {

void TwiceNatAddrOnlyTablePd::entryDel(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) {
   BF_TRACE(pd::kEntryDelFn,
            pd::kEntryDelFn << ", matchSpec: " << static_cast<void const*>(match.ptr()));
   TwiceNatAddrOnlyTableHelper const& helper = *this->helper();
   TwiceNatAddrOnlyTableHandles& handles = *helper.sdkHandles();
   TwiceNatAddrOnlyTableHandles::Position const at = handles.entryPosition(match);
   BfnTable::BfnSdkEntryHandle const* const held = at.value();
   BF_CHECK(held != nullptr, "helper()->sdkHandles()->entryHas( match )", pd::kEntryDelFn);
   BfnTable::BfnSdkEntryHandle const entryHdl = *held;
   // The status starts afresh whatever the SDK answers; a failed removal is retried later.
   if (statusManager()) statusManager()->initStatus(match);

   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf const& pdLib = *helper.pdLib();
   pd::PdTarget const t(helper);
   char const* function;
   BfPdTwiceNatAddrOnly::Status status;
   if (match == defaultMatchSpec()) {
      function = pd::kResetDefault;
      status = pdLib.tableResetDefaultEntry(t.sess, t.tgt);
   } else {
      function = pd::kTableDelete;
      status = pdLib.tableDelete(t.sess, t.dev, entryHdl);
   }
   if (status != 0) throwPdFailure(function, status);
   handles.entryDel(at, match);
}

}  // namespace BfTwiceNatAddrOnly
