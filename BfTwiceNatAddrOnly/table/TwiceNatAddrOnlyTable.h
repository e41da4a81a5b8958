#pragma once
// The table as the agent sees it: the common front of the PD and BfRt back ends.
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"
#include "BfTwiceNatAddrOnly/platform/DroskKeyManager.h"
#include "BfTwiceNatAddrOnly/platform/StatusManager.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHelper.h"
#include "Zin/Entity.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyTable : public Zin::Entity {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyTable>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyTable const>;

   TwiceNatAddrOnlyTable(TwiceNatAddrOnlyTableHelper::Ptr const& helper,
                         MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
                         BfnTableStatusManager::StatusManager::Ptr const& statusManager,
                         U64 supportedOptionalFields);
   static Ptr TwiceNatAddrOnlyTableIs(
       TwiceNatAddrOnlyTableHelper::Ptr const& helper,
       MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
       BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields);

   TwiceNatAddrOnlyTableHelper::Ptr const& helper() const { return helper_; }
   MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager() const { return droskKeyManager_; }
   BfnTableStatusManager::StatusManager::Ptr const& statusManager() const { return statusManager_; }
   U64 supportedOptionalFields() const { return supportedOptionalFields_; }
   bool useBfRt() const { return useBfRt_; }
   void useBfRtIs(bool v) { useBfRt_ = v; }

   TwiceNatAddrOnlyMatchSpec::PtrConst const& defaultMatchSpec() const { return defaultMatchSpec_; }
   // The match-spec object that stands for the table's default entry, made once.
   TwiceNatAddrOnlyMatchSpec::PtrConst defaultMatchSpecIs();
   TwiceNatAddrOnlyMatchSpec::PtrConst defaultMatchSpecDel() {
      return std::move(defaultMatchSpec_);
   }

   // Moves an entry found by the resync from the match read back for it onto the match object
   // the agent names it by (the default match, or one without a field this table lacks), in
   // the handle map and under its record's `key` in the key manager. False when `from` holds
   // no entry here.
   bool resyncedMatchIs(MbbDroskKey::DroskKeyManager::EntryKey key,
                        TwiceNatAddrOnlyMatchSpec::PtrConst const& from,
                        TwiceNatAddrOnlyMatchSpec::PtrConst const& to);

   // Takes in an entry the chip holds as the resync takes in a record: reads it back by
   // `sdkHandle`, keeps the handle under the match read back and gives that match to the key
   // manager under `key`, which must have a record. Returns the entry read back; when it is
   // empty (the chip holds no entry with that handle) nothing is kept.
   TwiceNatAddrOnlyTableEntry resyncedEntryIs(MbbDroskKey::DroskKeyManager::EntryKey key,
                                              BfnTable::BfnSdkEntryHandle sdkHandle);

   // The entry of `match` as the chip holds it, or the empty entry when the library has not
   // programmed `match`; the SDK is asked only in the first case.
   TwiceNatAddrOnlyTableEntry entry(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) const;

   // What one programming did, from the one lookup it made.
   struct Programming {
      enum class Path : U8 { added, modified, defaultSet };
      Path path = Path::added;
      BfnTable::BfnSdkEntryHandle sdkHandle = 0;  // the entry's handle after the programming
      // The key the programming allocated (an add, the first setting of the default action);
      // 0 when it allocated none or the table has no key manager.
      MbbDroskKey::DroskKeyManager::EntryKey key = 0;
   };

   // The four table operations; the back ends give them behaviour. On this base class each
   // stops the process.
   virtual void entryIs(TwiceNatAddrOnlyTableEntry const& entry);
   virtual void entryDel(TwiceNatAddrOnlyMatchSpec::PtrConst const& match);
   virtual TwiceNatAddrOnlyTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle sdkHandle) const;
   virtual void initializeTable(TwiceNatAddrOnlyTableHelper::Ptr const& helper);
   // entryIs, saying what it did: the back ends' entryIs is this call. Stops the process on
   // this base class.
   virtual Programming entryIsReported(TwiceNatAddrOnlyTableEntry const& entry);

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyTable)

 protected:
   // Releases the default match spec, the status manager, the key manager and the helper.
   ~TwiceNatAddrOnlyTable() override;

 private:
   TwiceNatAddrOnlyTableHelper::Ptr helper_;
   MbbDroskKey::DroskKeyManager::Ptr droskKeyManager_;
   BfnTableStatusManager::StatusManager::Ptr statusManager_;
   U64 supportedOptionalFields_;
   bool useBfRt_ = true;
   TwiceNatAddrOnlyMatchSpec::PtrConst defaultMatchSpec_;
};

TwiceNatAddrOnlyTable::Ptr twiceNatAddrOnlyTableFactory(
    TwiceNatAddrOnlyTableHelper::Ptr const& helper,
    MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields);

}  // namespace BfTwiceNatAddrOnly
