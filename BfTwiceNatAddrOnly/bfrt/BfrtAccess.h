#pragma once
// What every BfRt operation of the back end builds afresh from the table's helper.
#include "BfTwiceNatAddrOnly/bfrt/BfrtModuleObjects.h"
#include "BfTwiceNatAddrOnly/table/SdkStatus.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHelper.h"

namespace BfTwiceNatAddrOnly::bfrtAccess {

// Device and pipe, zero-extended; pipe 0xFFFF stands for all pipes.
inline bfrt::BfRtTarget target(TwiceNatAddrOnlyTableHelper const& helper) {
   return bfrt::BfRtTarget{static_cast<int32_t>(helper.deviceId()),
                           static_cast<uint32_t>(helper.devPipeId())};
}

// The session, borrowed: the BfRt table interface keeps it alive, so the shared pointer is
// dropped at once.
inline bfrt::BfRtSession const* session(TwiceNatAddrOnlyTableHelper::PdLib const& pdLib) {
   return pdLib.bfRtTableIntf->bfRtSessionGet().get();
}

// Any BfRt call other than the five entry operations.
inline void check(bfrt::bf_status_t status) {
   if (status != 0) throwBfrtCallFailure(status);
}

inline BfrtModuleObjects& module() {
   return detail::bfrtModule;
}

}  // namespace BfTwiceNatAddrOnly::bfrtAccess
