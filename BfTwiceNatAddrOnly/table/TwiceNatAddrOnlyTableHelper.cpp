#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHelper.h"

namespace BfTwiceNatAddrOnly {

TwiceNatAddrOnlyTableHelper::~TwiceNatAddrOnlyTableHelper() {
   sdkHandles_ = nullptr;
   pdLib_ = nullptr;
}

TwiceNatAddrOnlyTableHandles::Ptr TwiceNatAddrOnlyTableHelper::sdkHandlesIs() {
   if (!sdkHandles_) sdkHandles_ = twiceNatAddrOnlyTableHandlesFactory();
   return sdkHandles_;
}

TwiceNatAddrOnlyTableHelper::PdLib::Ptr TwiceNatAddrOnlyTableHelper::pdLibIs(
    Pemra::String const& pdLibName, void* dlHandle, U32 sessionId) {
   if (pdLib_) {
      bool same = pdLib_->pdLibName == pdLibName;
      pdLib_->dlHandle = dlHandle;
      pdLib_->sessionId = sessionId;
      if (same) return pdLib_;
   }
   pdLib_ = new PdLib(deviceId_, pdLibName, dlHandle, sessionId);
   return pdLib_;
}

Zin::TypeDescriptor const& TwiceNatAddrOnlyTableHelper::type() {
   using C = TwiceNatAddrOnlyTableHelper;
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<C>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHelper",
                            &Zin::ptrInterfaceType())
           .readOnly("deviceId", &C::deviceId)
           .readOnly("devPipeId", &C::devPipeId)
           .pointer("sdkHandles", &C::sdkHandles, &C::sdkHandlesIs, &C::sdkHandlesDel)
           .binding("pdLib", &C::pdLib, {"pdLibName", "dlHandle", "sessionId"}, &C::pdLibIs,
                    &C::pdLibDel)
           .done();
   return d;
}

}  // namespace BfTwiceNatAddrOnly
