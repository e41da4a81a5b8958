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

   // Adds, modifies or sets the default entry through the module-wide key and data objects.
   void entryIs(TwiceNatAddrOnlyTableEntry const& entry) override;
   Programming entryIsReported(TwiceNatAddrOnlyTableEntry const& entry) override;
   // Drops the match from the handle map before the SDK call, whatever its outcome.
   void entryDel(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) override;
   // The empty entry when the SDK holds no such entry or reports an unknown action.
   TwiceNatAddrOnlyTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle sdkHandle) const override;
   // Binds the table's BfRt tables, the required one first.
   void initializeTable(TwiceNatAddrOnlyTableHelper::Ptr const& helper) override;

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyTableBfrt)

 protected:
   ~TwiceNatAddrOnlyTableBfrt() override = default;

 private:
   Programming programmed(TwiceNatAddrOnlyTableEntry const& entry);
};

inline TwiceNatAddrOnlyTableBfrt::Ptr twiceNatAddrOnlyTableBfrtFactory(
    TwiceNatAddrOnlyTableHelper::Ptr const& helper,
    MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields) {
   return TwiceNatAddrOnlyTableBfrt::TwiceNatAddrOnlyTableBfrtIs(
       helper, droskKeyManager, statusManager, supportedOptionalFields);
}

}  // namespace BfTwiceNatAddrOnly

// Binds one BfRt table: allocates the module-wide objects of its kind, hands it the device
// target and, for a match table, sets its entry scope. Throws on a failed BfRt call.
void initBfRtTable(BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHelper::Ptr const& helper,
                   BfRt::BfRtTablePtr table);
