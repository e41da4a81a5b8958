#pragma once
// Per-table context: which chip and pipe the table lives on, the PD interface object through
// which the chip is reached, and the handle map.
#include "BfTwiceNatAddrOnly/platform/BfPdTwiceNatAddrOnlyIntf.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHandles.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyTableHelper : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyTableHelper>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyTableHelper const>;
   using PdLib = BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf;

   TwiceNatAddrOnlyTableHelper(U8 deviceId, U16 devPipeId)
       : deviceId_(deviceId), devPipeId_(devPipeId) {}
   static Ptr TwiceNatAddrOnlyTableHelperIs(U8 deviceId, U16 devPipeId) {
      return new TwiceNatAddrOnlyTableHelper(deviceId, devPipeId);
   }

   U8 deviceId() const { return deviceId_; }
   U16 devPipeId() const { return devPipeId_; }

   TwiceNatAddrOnlyTableHandles::Ptr const& sdkHandles() const { return sdkHandles_; }
   // The map held, or a new empty one stored first: a map is never replaced.
   TwiceNatAddrOnlyTableHandles::Ptr sdkHandlesIs();
   TwiceNatAddrOnlyTableHandles::Ptr sdkHandlesDel() { return std::move(sdkHandles_); }

   PdLib::Ptr const& pdLib() const { return pdLib_; }
   // Binds the PD interface object named `pdLibName`: the held one when the name matches,
   // else a new one. The held object gets the new handle and session either way.
   PdLib::Ptr pdLibIs(Pemra::String const& pdLibName, void* dlHandle, U32 sessionId);
   PdLib::Ptr pdLibDel() { return std::move(pdLib_); }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyTableHelper)

 protected:
   // Releases the handle map first, then the PD interface object.
   ~TwiceNatAddrOnlyTableHelper() override;

 private:
   U8 deviceId_;
   U16 devPipeId_;
   TwiceNatAddrOnlyTableHandles::Ptr sdkHandles_;
   PdLib::Ptr pdLib_;
};

inline TwiceNatAddrOnlyTableHelper::Ptr twiceNatAddrOnlyTableHelperFactory(U8 deviceId,
                                                                           U16 devPipeId) {
   return TwiceNatAddrOnlyTableHelper::TwiceNatAddrOnlyTableHelperIs(deviceId, devPipeId);
}

}  // namespace BfTwiceNatAddrOnly
