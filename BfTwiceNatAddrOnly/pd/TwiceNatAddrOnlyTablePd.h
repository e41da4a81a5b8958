#pragma once
// The table driven through the generated PD function set.
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTable.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyTablePd : public TwiceNatAddrOnlyTable {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyTablePd>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyTablePd const>;

   TwiceNatAddrOnlyTablePd(TwiceNatAddrOnlyTableHelper::Ptr const& helper,
                           MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
                           BfnTableStatusManager::StatusManager::Ptr const& statusManager,
                           U64 supportedOptionalFields)
       : TwiceNatAddrOnlyTable(helper, droskKeyManager, statusManager, supportedOptionalFields) {}
   static Ptr TwiceNatAddrOnlyTablePdIs(
       TwiceNatAddrOnlyTableHelper::Ptr const& helper,
       MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
       BfnTableStatusManager::StatusManager::Ptr const& statusManager,
       U64 supportedOptionalFields) {
      return new TwiceNatAddrOnlyTablePd(helper, droskKeyManager, statusManager,
                                         supportedOptionalFields);
   }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyTablePd)

 protected:
   ~TwiceNatAddrOnlyTablePd() override = default;
};

inline TwiceNatAddrOnlyTablePd::Ptr twiceNatAddrOnlyTablePdFactory(
    TwiceNatAddrOnlyTableHelper::Ptr const& helper,
    MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields) {
   return TwiceNatAddrOnlyTablePd::TwiceNatAddrOnlyTablePdIs(helper, droskKeyManager, statusManager,
                                                             supportedOptionalFields);
}

}  // namespace BfTwiceNatAddrOnly
