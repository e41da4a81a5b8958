#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTable.h"

#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {

TwiceNatAddrOnlyTable::TwiceNatAddrOnlyTable(
    TwiceNatAddrOnlyTableHelper::Ptr const& helper,
    MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields)
    : helper_(helper),
      droskKeyManager_(droskKeyManager),
      statusManager_(statusManager),
      supportedOptionalFields_(supportedOptionalFields) {}

TwiceNatAddrOnlyTable::Ptr TwiceNatAddrOnlyTable::TwiceNatAddrOnlyTableIs(
    TwiceNatAddrOnlyTableHelper::Ptr const& helper,
    MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields) {
   return new TwiceNatAddrOnlyTable(helper, droskKeyManager, statusManager,
                                    supportedOptionalFields);
}

TwiceNatAddrOnlyTable::Ptr twiceNatAddrOnlyTableFactory(
    TwiceNatAddrOnlyTableHelper::Ptr const& helper,
    MbbDroskKey::DroskKeyManager::Ptr const& droskKeyManager,
    BfnTableStatusManager::StatusManager::Ptr const& statusManager, U64 supportedOptionalFields) {
   return TwiceNatAddrOnlyTable::TwiceNatAddrOnlyTableIs(helper, droskKeyManager, statusManager,
                                                         supportedOptionalFields);
}

TwiceNatAddrOnlyTable::~TwiceNatAddrOnlyTable() {
   defaultMatchSpec_ = nullptr;
   statusManager_ = nullptr;
   droskKeyManager_ = nullptr;
   helper_ = nullptr;
}

TwiceNatAddrOnlyMatchSpec::PtrConst TwiceNatAddrOnlyTable::defaultMatchSpecIs() {
   if (!defaultMatchSpec_) defaultMatchSpec_ = twiceNatAddrOnlyMatchSpecFactory();
   return defaultMatchSpec_;
}

bool TwiceNatAddrOnlyTable::resyncedMatchIs(MbbDroskKey::DroskKeyManager::EntryKey key,
                                            TwiceNatAddrOnlyMatchSpec::PtrConst const& from,
                                            TwiceNatAddrOnlyMatchSpec::PtrConst const& to) {
   TwiceNatAddrOnlyTableHandles::Ptr const& handles = helper_->sdkHandles();
   if (!from || !to || !handles->entryHas(from)) return false;
   BfnTable::BfnSdkEntryHandle const handle = handles->entry(from);
   handles->entryDel(from);
   handles->entryIs(to, handle);
   if (droskKeyManager_) droskKeyManager_->populate(key, to);
   return true;
}

TwiceNatAddrOnlyTableEntry TwiceNatAddrOnlyTable::resyncedEntryIs(
    MbbDroskKey::DroskKeyManager::EntryKey key, BfnTable::BfnSdkEntryHandle sdkHandle) {
   TwiceNatAddrOnlyTableEntry entry = entryByHandle(sdkHandle);
   if (!entry.match()) return entry;
   helper_->sdkHandles()->entryIs(entry.match(), sdkHandle);
   if (droskKeyManager_) droskKeyManager_->populate(key, entry.match());
   return entry;
}

TwiceNatAddrOnlyTableEntry TwiceNatAddrOnlyTable::entry(
    TwiceNatAddrOnlyMatchSpec::PtrConst const& match) const {
   static constexpr char kFn[] =
       "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry "
       "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entry(const PtrConst&) const";
   BF_TRACE(kFn, kFn);
   BF_CHECK(match, "match != NULL", kFn);
   TwiceNatAddrOnlyTableHandles const& handles = *helper_->sdkHandles();
   if (auto const* handle = handles.find(match.ptr())) {
      return entryByHandle(*handle);
   }
   return TwiceNatAddrOnlyTableEntry();
}

void TwiceNatAddrOnlyTable::entryIs(TwiceNatAddrOnlyTableEntry const&) {
   BF_CHECK(false, "0 && \"base TwiceNatAddrOnlyTable::entryIs() called\"",
            "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entryIs(const "
            "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)");
}

void TwiceNatAddrOnlyTable::entryDel(TwiceNatAddrOnlyMatchSpec::PtrConst const&) {
   BF_CHECK(false, "0 && \"base TwiceNatAddrOnlyTable::entryDel() called\"",
            "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entryDel(const PtrConst&)");
}

TwiceNatAddrOnlyTableEntry TwiceNatAddrOnlyTable::entryByHandle(BfnTable::BfnSdkEntryHandle) const {
   BF_CHECK(false, "0 && \"base TwiceNatAddrOnlyTable::entryByHandle() called\"",
            "virtual BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry "
            "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entryByHandle(BfnTable::BfnSdkEntryHandle) "
            "const");
   return TwiceNatAddrOnlyTableEntry();
}

void TwiceNatAddrOnlyTable::initializeTable(TwiceNatAddrOnlyTableHelper::Ptr const&) {
   BF_CHECK(false, "0 && \"base TwiceNatAddrOnlyTable::initializeTable() called\"",
            "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::initializeTable(const "
            "Ptr&)");
}

TwiceNatAddrOnlyTable::Programming TwiceNatAddrOnlyTable::entryIsReported(
    TwiceNatAddrOnlyTableEntry const&) {
   BF_CHECK(false, "0 && \"base TwiceNatAddrOnlyTable::entryIsReported() called\"",
            "virtual BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::Programming "
            "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entryIsReported(const "
            "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)");
   return Programming();
}

Zin::TypeDescriptor const& TwiceNatAddrOnlyTable::type() {
   using C = TwiceNatAddrOnlyTable;
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<C>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable", &Zin::entityType())
           .readOnly("helper", &C::helper)
           .readOnly("droskKeyManager", &C::droskKeyManager)
           .readOnly("statusManager", &C::statusManager)
           .readOnly("supportedOptionalFields", &C::supportedOptionalFields)
           .field("useBfRt", &C::useBfRt, &C::useBfRtIs)
           .pointer("defaultMatchSpec", &C::defaultMatchSpec, &C::defaultMatchSpecIs,
                    &C::defaultMatchSpecDel)
           .operation("entryIs", {"entry"}, &C::entryIs)
           .operation("entryDel", {"match"}, &C::entryDel)
           .operation("entry", {"match"}, &C::entry)
           .operation("entryByHandle", {"sdkHandle"}, &C::entryByHandle)
           .operation("initializeTable", {"helper"}, &C::initializeTable)
           .done();
   return d;
}

}  // namespace BfTwiceNatAddrOnly
