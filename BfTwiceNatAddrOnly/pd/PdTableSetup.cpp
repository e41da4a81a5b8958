#include "BfTwiceNatAddrOnly/pd/PdNames.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfTwiceNatAddrOnly/table/SdkStatus.h"

namespace BfTwiceNatAddrOnly {

namespace {
constexpr uint32_t kEntryScopeProperty = 1;
constexpr U16 kAllPipes = 0xFFFF;
}  // namespace

void TwiceNatAddrOnlyTablePd::initializeTable(TwiceNatAddrOnlyTableHelper::Ptr const& helper) {
   BF_TRACE(pd::kInitializeTableFn, "initializeTable");
   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf::Ptr pdLib = helper->pdLib();
   // Entries of a table bound to one pipe live in that pipe only.
   uint32_t singlePipe = helper->devPipeId() != kAllPipes ? 1 : 0;
   BfPdTwiceNatAddrOnly::Status status =
       pdLib->setProperty(pdLib->sessionId, helper->deviceId(), kEntryScopeProperty, singlePipe);
   if (status != 0) throwPdFailure(pd::kSetProperty, status);
}

}  // namespace BfTwiceNatAddrOnly
