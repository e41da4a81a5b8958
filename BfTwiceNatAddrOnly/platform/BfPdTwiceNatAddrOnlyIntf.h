#pragma once
// The agent's PD interface object of the table: the PD function set bound from the PD
// library, and the BfRt table objects and ids of the table, all filled at construction.
#include <cstdint>

#include "BfTwiceNatAddrOnly/platform/BfRt.h"
#include "BfTwiceNatAddrOnly/platform/PdTypes.h"
#include "Pemra/String.h"

namespace BfPdTwiceNatAddrOnly {

class BfPdTwiceNatAddrOnlyIntf : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<BfPdTwiceNatAddrOnlyIntf>;
   using PtrConst = Pemra::Ptr<BfPdTwiceNatAddrOnlyIntf const>;

   // Binds every PD function by name from `dlHandle` and resolves the BfRt table of the
   // device, when the device offers one. Throws Zin::Exception naming a missing PD symbol.
   BfPdTwiceNatAddrOnlyIntf(U8 deviceId, Pemra::String const& pdLibName, void* dlHandle,
                            U32 sessionId);

   Zin::TypeDescriptor const* fwkType() const override;

   // Library name, as the agent named it.
   Pemra::String pdLibName;
   void* dlHandle;
   U32 sessionId;
   U8 deviceId;

   SetPropertyFn setProperty = nullptr;
   AddWithOnMissFn tableAddWithOnMiss = nullptr;
   AddWithHitFn tableAddWithTwiceNatAddrOnlyHit = nullptr;
   AddWithHitEcmpFn tableAddWithTwiceNatAddrOnlyHitEcmp = nullptr;
   ModifyWithOnMissFn tableModifyWithOnMiss = nullptr;
   ModifyWithHitFn tableModifyWithTwiceNatAddrOnlyHit = nullptr;
   ModifyWithHitEcmpFn tableModifyWithTwiceNatAddrOnlyHitEcmp = nullptr;
   SetDefaultOnMissFn setDefaultActionOnMiss = nullptr;
   SetDefaultHitFn setDefaultActionTwiceNatAddrOnlyHit = nullptr;
   SetDefaultHitEcmpFn setDefaultActionTwiceNatAddrOnlyHitEcmp = nullptr;
   TableDeleteFn tableDelete = nullptr;
   ResetDefaultFn tableResetDefaultEntry = nullptr;
   GetEntryFn getEntry = nullptr;

   // Non-zero when the table offers the optional VRF key field.
   std::uintptr_t optionalFieldsIndication = 0;

   BfRt::BfRtTableIntf::Ptr bfRtTableIntf;
   BfRt::BfRtTablePtr bfRtTable = nullptr;  // null: the device offers no BfRt table
   BfRt::BfRtTablePtr bfRtSecondTable = nullptr;
   BfRt::BfRtTablePtr bfRtThirdTable = nullptr;

   U32 vrfKeyFieldId = 0;
   bool hasVrfKeyField = false;
   U32 dipKeyFieldId = 0;
   U32 sipKeyFieldId = 0;
   U32 actionIdOnMiss = 0;
   U32 actionIdHit = 0;
   U32 hitKeyIdFieldId = 0;
   U32 hitRwIdFieldId = 0;
   U32 hitProtFieldId = 0;
   U32 hitFragFieldId = 0;
   U32 hitNextHopFieldId = 0;
   U32 actionIdHitEcmp = 0;
   U32 hitEcmpKeyIdFieldId = 0;
   U32 hitEcmpRwIdFieldId = 0;
   U32 hitEcmpProtFieldId = 0;
   U32 hitEcmpFragFieldId = 0;
   U32 hitEcmpEcmpGroupFieldId = 0;

   ZIN_ALLOCATED(BfPdTwiceNatAddrOnlyIntf)

 protected:
   ~BfPdTwiceNatAddrOnlyIntf() override;
};

}  // namespace BfPdTwiceNatAddrOnly
