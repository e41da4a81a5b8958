#pragma once
// The agent's creation function: a table of the back end that the PD interface object
// offers, set up in the SDK and resynchronised from the shared-memory key table.
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTable.h"

BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::Ptr twiceNatAddrOnlyTableFactory(
    MbbDroskKey::DroskKeyManager::Ptr droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr statusManager, Zin::VoidPtr dlHandle, U32 sessionId,
    U8 deviceId, U16 devPipeId, Zin::String pdLibPath);
