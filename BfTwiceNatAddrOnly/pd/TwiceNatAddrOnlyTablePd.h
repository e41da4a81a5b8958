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

   // Adds, modifies or sets the default entry; keeps the handle map, the entry's key and its
   // status in step with the SDK.
   void entryIs(TwiceNatAddrOnlyTableEntry const& entry) override;
   Programming entryIsReported(TwiceNatAddrOnlyTableEntry const& entry) override;
   // Deletes the entry, or resets the default entry; the entry's key is left alone.
   void entryDel(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) override;
   // New spec objects as the SDK holds the entry; the empty entry when the SDK does not.
   TwiceNatAddrOnlyTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle sdkHandle) const override;
   // Sets the table's entry scope (all pipes or one) from the helper's pipe id.
   void initializeTable(TwiceNatAddrOnlyTableHelper::Ptr const& helper) override;

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyTablePd)

 protected:
   ~TwiceNatAddrOnlyTablePd() override = default;

 private:
   Programming programmed(TwiceNatAddrOnlyTableEntry const& entry);
};

inline TwiceNatAddrOnlyTablePd::Ptr twiceNatAddrOnlyTablePdFactory(
    TwiceNatAddrOnlyTableHelper::Ptr const& helper,
    MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields) {
   return TwiceNatAddrOnlyTablePd::TwiceNatAddrOnlyTablePdIs(helper, droskKeyManager, statusManager,
                                                             supportedOptionalFields);
}

}  // namespace BfTwiceNatAddrOnly
