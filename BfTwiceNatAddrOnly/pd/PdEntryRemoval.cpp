#include "BfTwiceNatAddrOnly/pd/PdNames.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfTwiceNatAddrOnly/table/SdkStatus.h"

namespace BfTwiceNatAddrOnly {

void TwiceNatAddrOnlyTablePd::entryDel(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) {
   BF_TRACE(pd::kEntryDelFn,
            pd::kEntryDelFn << ", matchSpec: " << static_cast<void const*>(match.ptr()));
   TwiceNatAddrOnlyTableHelper::Ptr helper = this->helper();
   TwiceNatAddrOnlyTableHandles::Ptr handles = helper->sdkHandles();
   BF_CHECK(handles->entryHas(match), "helper()->sdkHandles()->entryHas( match )", pd::kEntryDelFn);
   // The status starts afresh whatever the SDK answers; a failed removal is retried later.
   if (statusManager()) statusManager()->initStatus(match);

   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf::Ptr pdLib = helper->pdLib();
   pd::PdTarget const t(*helper);
   char const* function;
   BfPdTwiceNatAddrOnly::Status status;
   if (match == defaultMatchSpec()) {
      function = pd::kResetDefault;
      status = pdLib->tableResetDefaultEntry(t.sess, t.tgt);
   } else {
      function = pd::kTableDelete;
      status = pdLib->tableDelete(t.sess, t.dev, handles->entry(match));
   }
   if (status != 0) throwPdFailure(function, status);
   handles->entryDel(match);
}

}  // namespace BfTwiceNatAddrOnly
