#pragma once
// The table driven through the BfRt table interface.
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTable.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyTableBfrt : public TwiceNatAddrOnlyTable {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyTableBfrt>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyTableBfrt const>;

   TwiceNatAddrOnlyTableBfrt(TwiceNatAddrOnlyTableHelper::Ptr const& helper,
                             MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
                             BfnTableStatusManager::StatusManager::Ptr const& statusManager,
                             U64 supportedOptionalFields)
       : TwiceNatAddrOnlyTable(helper, droskKeyManager, statusManager, supportedOptionalFields) {}
   static Ptr TwiceNatAddrOnlyTableBfrtIs(
       TwiceNatAddrOnlyTableHelper::Ptr const& helper,
       MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
       BfnTableStatusManager::StatusManager::Ptr const& statusManager,
       U64 supportedOptionalFields) {
      return new TwiceNatAddrOnlyTableBfrt(helper, droskKeyManager, statusManager,
                                           supportedOptionalFields);
   }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyTableBfrt)

 protected:
   ~TwiceNatAddrOnlyTableBfrt() override = default;
};

inline TwiceNatAddrOnlyTableBfrt::Ptr twiceNatAddrOnlyTableBfrtFactory(
    TwiceNatAddrOnlyTableHelper::Ptr const& helper,
    MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields) {
   return TwiceNatAddrOnlyTableBfrt::TwiceNatAddrOnlyTableBfrtIs(
       helper, droskKeyManager, statusManager, supportedOptionalFields);
}

}  // namespace BfTwiceNatAddrOnly
