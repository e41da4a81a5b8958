#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"

#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfTwiceNatAddrOnly/table/Resync.h"

using namespace BfTwiceNatAddrOnly;

TwiceNatAddrOnlyTable::Ptr twiceNatAddrOnlyTableFactory(
    MbbDroskKey::DroskKeyManager::Ptr droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr statusManager, Zin::VoidPtr dlHandle, U32 sessionId,
    U8 deviceId, U16 devPipeId, Zin::String pdLibPath) {
   static constexpr char kFn[] =
       "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::Ptr "
       "twiceNatAddrOnlyTableFactory(MbbDroskKey::DroskKeyManager::Ptr, "
       "BfnTableStatusManager::StatusManager::Ptr, Zin::VoidPtr, U32, U8, U16, Zin::String)";
   TwiceNatAddrOnlyTableHelper::Ptr helper =
       twiceNatAddrOnlyTableHelperFactory(deviceId, devPipeId);
   BF_CHECK(!pdLibPath.empty(), "pdLibPath", kFn);
   auto pdLib = helper->pdLibIs(pdLibPath, dlHandle, sessionId);
   helper->sdkHandlesIs();
   U64 supportedOptionalFields = pdLib->optionalFieldsIndication != 0 ? 1 : 0;
   // The back end is chosen once: BfRt when the SDK offers the table there.
   TwiceNatAddrOnlyTable::Ptr table;
   if (pdLib->bfRtTable) {
      table = twiceNatAddrOnlyTableBfrtFactory(helper, droskKeyManager, statusManager,
                                               supportedOptionalFields);
   } else {
      table = twiceNatAddrOnlyTablePdFactory(helper, droskKeyManager, statusManager,
                                             supportedOptionalFields);
   }
   table->defaultMatchSpecIs();
   table->initializeTable(helper);
   resyncTable(*table);
   return table;
}
