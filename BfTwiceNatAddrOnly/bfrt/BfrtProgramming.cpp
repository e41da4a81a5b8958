// Entry programming through the BfRt table: add, modify, or set the default action.
#include "BfTwiceNatAddrOnly/bfrt/BfrtAccess.h"
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {
namespace {

constexpr char kFn[] =
    "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::entryIs(const "
    "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)";
// Modify and default set ask the SDK for this behaviour; the add passes no flags.
constexpr U64 kEntryFlags = 0x20;

using PdLib = TwiceNatAddrOnlyTableHelper::PdLib;
using EntryKey = MbbDroskKey::DroskKeyManager::EntryKey;

// The module-wide data object of one action kind, with its prepared flag and action id.
struct ActionData {
   std::unique_ptr<bfrt::BfRtTableData>* data;
   bool* prepared;
   U32 actionId;
};

// The kind names the class the action is read as; an action of another class is refused like an
// unknown kind, before anything is allocated or programmed.
ActionData actionData(TwiceNatAddrOnlyBaseActionSpec const& action, PdLib const& pdLib) {
   BfrtModuleObjects& m = bfrtAccess::module();
   switch (action.actionType()) {
      case onMissActionSpec:
         return {&m.onMissData, &m.onMissDataPrepared, pdLib.actionIdOnMiss};
      case twiceNatAddrOnlyHitActionSpec:
         if (!actionSpecAs<TwiceNatAddrOnlyHitActionSpec>(action)) break;
         return {&m.hitData, &m.hitDataPrepared, pdLib.actionIdHit};
      case twiceNatAddrOnlyHitEcmpActionSpec:
         if (!actionSpecAs<TwiceNatAddrOnlyHitEcmpActionSpec>(action)) break;
         return {&m.hitEcmpData, &m.hitEcmpDataPrepared, pdLib.actionIdHitEcmp};
   }
   BF_CHECK(false, "0", kFn);
   return {};
}

// Makes the kind's data object once per binding, then writes the action's fields into it.
bfrt::BfRtTableData const& prepareAndFill(bfrt::TolvexBfRtTable const& table, ActionData const& ad,
                                          TwiceNatAddrOnlyBaseActionSpec const& action,
                                          PdLib const& pd) {
   using bfrtAccess::check;
   if (!*ad.prepared) {
      check(table.dataAllocate(ad.data));
      check(table.dataReset(ad.actionId, ad.data->get()));
      *ad.prepared = true;
   }
   bfrt::BfRtTableData& data = **ad.data;
   // actionData has checked that the kind names the action's class.
   switch (action.actionType()) {
      case twiceNatAddrOnlyHitActionSpec: {
         auto const& hit = static_cast<TwiceNatAddrOnlyHitActionSpec const&>(action);
         check(data.setValue(pd.hitKeyIdFieldId, hit.keyId()));
         check(data.setValue(pd.hitRwIdFieldId, hit.rwId()));
         check(data.setValue(pd.hitProtFieldId, hit.prot()));
         check(data.setValue(pd.hitFragFieldId, hit.frag()));
         check(data.setValue(pd.hitNextHopFieldId, hit.nextHop()));
         break;
      }
      case twiceNatAddrOnlyHitEcmpActionSpec: {
         auto const& ecmp = static_cast<TwiceNatAddrOnlyHitEcmpActionSpec const&>(action);
         check(data.setValue(pd.hitEcmpKeyIdFieldId, ecmp.keyId()));
         check(data.setValue(pd.hitEcmpRwIdFieldId, ecmp.rwId()));
         check(data.setValue(pd.hitEcmpProtFieldId, ecmp.prot()));
         check(data.setValue(pd.hitEcmpFragFieldId, ecmp.frag()));
         check(data.setValue(pd.hitEcmpEcmpGroupFieldId, ecmp.ecmpGroup()));
         break;
      }
      default:
         break;  // onMiss has no parameters
   }
   return data;
}

// A key allocated for this call, released again if the call fails.
class KeyClaim {
 public:
   explicit KeyClaim(MbbDroskKey::DroskKeyManager* km) : km_(km) {}
   void alloc(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) {
      if (!km_) return;
      key_ = km_->alloc(match, false);
      held_ = true;
   }
   void release() {
      if (!held_) return;
      held_ = false;
      km_->free(key_);
   }
   // The key allocated and kept; 0 when none.
   EntryKey key() const { return held_ ? key_ : 0; }

 private:
   MbbDroskKey::DroskKeyManager* km_;
   EntryKey key_ = 0;
   bool held_ = false;
};

bfrt::BfRtTableData const& prepareOrRelease(bfrt::TolvexBfRtTable const& table,
                                            ActionData const& ad,
                                            TwiceNatAddrOnlyBaseActionSpec const& action,
                                            PdLib const& pd, KeyClaim& claim) {
   try {
      return prepareAndFill(table, ad, action, pd);
   } catch (...) {
      claim.release();
      throw;
   }
}

[[noreturn]] void refuseOptionalFields(U64 supported, U64 isSet, U64 mismatched) {
   Pemra::String diagnostic = " supportedOptionalFields: " + std::to_string(supported) +
                              " isSet: " + std::to_string(isSet) + " fields: ";
   if (mismatched & TwiceNatAddrOnlyMatchSpec::kVrfIdBit) diagnostic += " l3InfoVrfId";
   Zin::strongAssertFail("!mismatchedFields", diagnostic, kSourceName, __LINE__, kFn);
}

}  // namespace

// Made into entryIs and entryIsReported each, so that entryIs, which drops the report, does
// no work for it. The trace and check texts name entryIs, whose work this is.
[[gnu::always_inline]] inline TwiceNatAddrOnlyTable::Programming
TwiceNatAddrOnlyTableBfrt::programmed(TwiceNatAddrOnlyTableEntry const& entry) {
   // Checked ahead of the trace, which reads the action.
   BF_CHECK(entry.action(), "entry.action() != NULL", kFn);
   // The action is read only once the match has chosen the path (and, for an add, filled the
   // key object): asked for now, its line comes in meanwhile.
   __builtin_prefetch(entry.action().ptr());
   BF_CHECK(entry.match(), "entry.match() != NULL", kFn);
   TwiceNatAddrOnlyMatchSpec::PtrConst const& match = entry.match();
   TwiceNatAddrOnlyBaseActionSpec const& action = *entry.action();
   BF_TRACE(kFn, kFn << ", matchSpec: " << static_cast<void const*>(match.ptr())
                     << ", action: " << action.actionType());

   PdLib const& pd = *helper()->pdLib();
   bfrt::BfRtSession const* session = bfrtAccess::session(pd);
   bfrt::TolvexBfRtTable const& table = *pd.bfRtTable;
   bfrt::BfRtTarget const target = bfrtAccess::target(*helper());

   U64 const mismatchedFields = match->isSet() & ~supportedOptionalFields();
   if (mismatchedFields) {
      refuseOptionalFields(supportedOptionalFields(), match->isSet(), mismatchedFields);
   }

   TwiceNatAddrOnlyTableHandles& handles = *helper()->sdkHandles();
   // One probe of the handle map serves the choice of path, the handle and the insertion.
   TwiceNatAddrOnlyTableHandles::Position const at = handles.entryPosition(match);
   KeyClaim claim(droskKeyManager().ptr());
   Programming done;
   if (defaultMatchSpec() && defaultMatchSpec().ptr() == match.ptr()) {
      BF_TRACE(kFn, "Setting default action");
      ActionData const ad = actionData(action, pd);
      BfnTable::BfnSdkEntryHandle const default_hdl = at.value() ? *at.value() : 0;
      if (default_hdl == 0) claim.alloc(match);
      bfrt::BfRtTableData const& data = prepareOrRelease(table, ad, action, pd, claim);
      BfnTable::BfnSdkEntryHandle entry_hdl = 0;
      bfrt::bf_status_t const st =
          table.tableDefaultEntrySet(*session, target, kEntryFlags, data, &entry_hdl);
      if (st != 0) {
         claim.release();
         throwBfrtEntryOpFailure("twiceNatAddrOnly_tableDefaultEntrySet", st);
      }
      if (default_hdl == 0) {
         handles.entryIs(at, match, entry_hdl);
      } else {
         BF_CHECK(entry_hdl == default_hdl, "entry_hdl == default_hdl", kFn);
      }
      done = {Programming::Path::defaultSet, entry_hdl, claim.key()};
   } else if (at.value()) {
      BF_TRACE(kFn, "Modifying existing entry");
      ActionData const ad = actionData(action, pd);
      bfrt::BfRtTableData const& data = prepareAndFill(table, ad, action, pd);
      BfnTable::BfnSdkEntryHandle const entry_hdl = *at.value();
      bfrt::bf_status_t const st =
          table.tableEntryModByHandle(*session, target, kEntryFlags, entry_hdl, data);
      if (st != 0) throwBfrtEntryOpFailure("twiceNatAddrOnly_tableEntryMod", st);
      done = {Programming::Path::modified, entry_hdl, 0};
   } else {
      BF_TRACE(kFn, "Adding new entry");
      // The key object is not reset: every field is overwritten here.
      bfrt::BfRtTableKey& key = *bfrtAccess::module().programKey;
      if (pd.hasVrfKeyField)
         bfrtAccess::check(key.setValue(pd.vrfKeyFieldId, match->l3InfoVrfId()));
      bfrtAccess::check(key.setValue(pd.dipKeyFieldId, match->outerIpv4HdrDip()));
      bfrtAccess::check(key.setValue(pd.sipKeyFieldId, match->outerIpv4HdrSip()));
      ActionData const ad = actionData(action, pd);
      claim.alloc(match);
      bfrt::BfRtTableData const& data = prepareOrRelease(table, ad, action, pd, claim);
      BfnTable::BfnSdkEntryHandle entry_hdl = 0;
      bfrt::bf_status_t const st = table.tableEntryAdd(*session, target, key, data, &entry_hdl);
      if (st != 0) {
         claim.release();
         throwBfrtEntryOpFailure("twiceNatAddrOnly_tableEntryAdd", st);
      }
      handles.entryIs(at, match, entry_hdl);
      done = {Programming::Path::added, entry_hdl, claim.key()};
   }
   if (statusManager()) statusManager()->initStatus(match);
   return done;
}

void TwiceNatAddrOnlyTableBfrt::entryIs(TwiceNatAddrOnlyTableEntry const& entry) {
   programmed(entry);
}

TwiceNatAddrOnlyTable::Programming TwiceNatAddrOnlyTableBfrt::entryIsReported(
    TwiceNatAddrOnlyTableEntry const& entry) {
   return programmed(entry);
}

}  // namespace BfTwiceNatAddrOnly
