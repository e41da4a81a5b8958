#include <sstream>

#include "BfTwiceNatAddrOnly/pd/PdNames.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfTwiceNatAddrOnly/table/SdkStatus.h"

namespace BfTwiceNatAddrOnly {

namespace {

using BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf;
using BfPdTwiceNatAddrOnly::Hdl;
using BfPdTwiceNatAddrOnly::Status;

// Names of the optional key fields, by bit of a match spec's isSet.
constexpr char const* kOptionalFieldNames[] = {"l3InfoVrfId"};

[[noreturn]] void refuseOptionalFields(U64 supported, U64 isSet, U64 mismatched, U32 line) {
   std::ostringstream text;
   text << " supportedOptionalFields: " << supported << " isSet: " << isSet << " fields: ";
   for (unsigned bit = 0; bit < 64; ++bit) {
      if (!(mismatched & (U64(1) << bit))) continue;
      text << ' ';
      if (bit < std::size(kOptionalFieldNames)) {
         text << kOptionalFieldNames[bit];
      } else {
         text << "bit" << bit;
      }
   }
   Zin::strongAssertFail("!mismatchedFields", text.str(), kSourceName, line, pd::kEntryIsFn);
}

template <class PdSpec>
void fillHitSpec(PdSpec& pdSpec, TwiceNatAddrOnlyBaseActionSpec const& action, U16 last) {
   pdSpec.action_keyId = action.keyId();
   pdSpec.action_rwId = action.rwId();
   pdSpec.action_prot = action.prot();
   pdSpec.action_frag = action.frag();
   if constexpr (requires { pdSpec.action_nextHop; }) {
      pdSpec.action_nextHop = last;
   } else {
      pdSpec.action_ecmpGroup = last;
   }
}

// The action of one programming as the PD functions take it. Of the two action structs only
// the one `type` names is filled (every field of it) and passed on.
struct PdAction {
   TwiceNatAddrOnlyActionSpecType type;
   BfPdTwiceNatAddrOnly::HitSpec hit;
   BfPdTwiceNatAddrOnly::HitEcmpSpec hitEcmp;
};

// The helpers of programmed() are made into each of its two copies (entryIs and
// entryIsReported), so that neither pays for a call.
//
// Reads the action as the class its actionType names; false for any other action.
[[gnu::always_inline]] inline bool pdActionFrom(TwiceNatAddrOnlyBaseActionSpec const& action,
                                                PdAction& out) {
   out.type = action.actionType();
   switch (out.type) {
      case onMissActionSpec:
         return true;
      case twiceNatAddrOnlyHitActionSpec: {
         auto const* hit = actionSpecAs<TwiceNatAddrOnlyHitActionSpec>(action);
         if (hit) fillHitSpec(out.hit, *hit, hit->nextHop());
         return hit != nullptr;
      }
      case twiceNatAddrOnlyHitEcmpActionSpec: {
         auto const* ecmp = actionSpecAs<TwiceNatAddrOnlyHitEcmpActionSpec>(action);
         if (ecmp) fillHitSpec(out.hitEcmp, *ecmp, ecmp->ecmpGroup());
         return ecmp != nullptr;
      }
   }
   return false;
}

[[gnu::always_inline]] inline Status callSetDefault(BfPdTwiceNatAddrOnlyIntf const& pdLib,
                                                    pd::PdTarget const& t, PdAction const& a,
                                                    Hdl* hdl) {
   switch (a.type) {
      case onMissActionSpec:
         return pdLib.setDefaultActionOnMiss(t.sess, t.tgt, hdl);
      case twiceNatAddrOnlyHitActionSpec:
         return pdLib.setDefaultActionTwiceNatAddrOnlyHit(t.sess, t.tgt, &a.hit, hdl);
      default:
         return pdLib.setDefaultActionTwiceNatAddrOnlyHitEcmp(t.sess, t.tgt, &a.hitEcmp, hdl);
   }
}

[[gnu::always_inline]] inline Status callModify(BfPdTwiceNatAddrOnlyIntf const& pdLib,
                                                pd::PdTarget const& t, PdAction const& a, Hdl hdl) {
   switch (a.type) {
      case onMissActionSpec:
         return pdLib.tableModifyWithOnMiss(t.sess, t.dev, hdl);
      case twiceNatAddrOnlyHitActionSpec:
         return pdLib.tableModifyWithTwiceNatAddrOnlyHit(t.sess, t.dev, hdl, &a.hit);
      default:
         return pdLib.tableModifyWithTwiceNatAddrOnlyHitEcmp(t.sess, t.dev, hdl, &a.hitEcmp);
   }
}

[[gnu::always_inline]] inline Status callAdd(BfPdTwiceNatAddrOnlyIntf const& pdLib,
                                             pd::PdTarget const& t,
                                             BfPdTwiceNatAddrOnly::MatchSpec const& m,
                                             PdAction const& a, Hdl* hdl) {
   switch (a.type) {
      case onMissActionSpec:
         return pdLib.tableAddWithOnMiss(t.sess, t.tgt, &m, hdl);
      case twiceNatAddrOnlyHitActionSpec:
         return pdLib.tableAddWithTwiceNatAddrOnlyHit(t.sess, t.tgt, &m, &a.hit, hdl);
      default:
         return pdLib.tableAddWithTwiceNatAddrOnlyHitEcmp(t.sess, t.tgt, &m, &a.hitEcmp, hdl);
   }
}

}  // namespace

// Made into entryIs and entryIsReported each, so that entryIs, which drops the report, does
// no work for it. The trace and check texts name entryIs, whose work this is.
[[gnu::always_inline]] inline TwiceNatAddrOnlyTable::Programming
TwiceNatAddrOnlyTablePd::programmed(TwiceNatAddrOnlyTableEntry const& entry) {
   // The trace names the action, so its precondition goes first.
   BF_CHECK(entry.action() != nullptr, "entry.action() != NULL", pd::kEntryIsFn);
   BF_TRACE(pd::kEntryIsFn, pd::kEntryIsFn
                                << ", matchSpec: " << static_cast<void const*>(entry.match().ptr())
                                << ", action: " << entry.action()->actionType());
   BF_CHECK(entry.match() != nullptr, "entry.match() != NULL", pd::kEntryIsFn);
   TwiceNatAddrOnlyMatchSpec::PtrConst const& match = entry.match();
   U64 const mismatchedFields = match->isSet() & ~supportedOptionalFields();
   if (mismatchedFields) {
      refuseOptionalFields(supportedOptionalFields(), match->isSet(), mismatchedFields, __LINE__);
   }

   // Borrowed: the table holds the helper, the helper its map and PD object, for its life.
   TwiceNatAddrOnlyTableHelper const& helper = *this->helper();
   TwiceNatAddrOnlyTableHandles& handles = *helper.sdkHandles();
   BfPdTwiceNatAddrOnlyIntf const& pdLib = *helper.pdLib();
   MbbDroskKey::DroskKeyManager* const keyManager = droskKeyManager().ptr();
   // One probe of the handle map serves the choice of path and the handle it needs.
   TwiceNatAddrOnlyTableHandles::Position const at = handles.entryPosition(match);
   Hdl const* const held = at.value();
   Hdl const heldHdl = held ? *held : 0;
   enum class Path { setDefault, modify, add };
   Path const path = match == defaultMatchSpec() ? Path::setDefault
                     : held                      ? Path::modify
                                                 : Path::add;
   BF_TRACE(pd::kEntryIsFn, (path == Path::setDefault ? "Setting default action"
                             : path == Path::modify   ? "Modifying existing entry"
                                                      : "Adding new entry"));
   PdAction action;
   if (!pdActionFrom(*entry.action(), action)) BF_CHECK(false, "0", pd::kEntryIsFn);
   pd::PdTarget const target(helper);

   switch (path) {
      case Path::setDefault: {
         Hdl const entryHdl = heldHdl;
         bool const allocated = entryHdl == 0 && keyManager;
         MbbDroskKey::DroskKeyManager::EntryKey key = 0;
         if (allocated) key = keyManager->alloc(match, false);
         Hdl defaultHdl = 0;
         Status const status = callSetDefault(pdLib, target, action, &defaultHdl);
         if (status != 0) {
            if (allocated) keyManager->free(key);
            throwPdFailure(pd::kSetDefaultFn[action.type], status);
         }
         if (entryHdl != 0) {
            // The SDK keeps one default entry, so its handle never changes.
            BF_CHECK(entryHdl == defaultHdl, "entry_hdl == default_hdl", pd::kEntryIsFn);
         } else {
            handles.entryIs(at, match, defaultHdl);
         }
         if (statusManager()) statusManager()->initStatus(match);
         return {Programming::Path::defaultSet, defaultHdl, key};
      }
      case Path::modify: {
         Status const status = callModify(pdLib, target, action, heldHdl);
         if (status != 0) throwPdFailure(pd::kModifyFn[action.type], status);
         if (statusManager()) statusManager()->initStatus(match);
         return {Programming::Path::modified, heldHdl, 0};
      }
      case Path::add: {
         MbbDroskKey::DroskKeyManager::EntryKey key = 0;
         if (keyManager) key = keyManager->alloc(match, false);
         BfPdTwiceNatAddrOnly::MatchSpec const pdMatch{
             match->l3InfoVrfId(), match->outerIpv4HdrDip(), match->outerIpv4HdrSip()};
         Hdl hdl = 0;
         Status const status = callAdd(pdLib, target, pdMatch, action, &hdl);
         if (status != 0) {
            if (keyManager) keyManager->free(key);
            throwPdFailure(pd::kAddFn[action.type], status);
         }
         handles.entryIs(at, match, hdl);
         if (statusManager()) statusManager()->initStatus(match);
         return {Programming::Path::added, hdl, key};
      }
   }
   __builtin_unreachable();  // every path is a case above
}

void TwiceNatAddrOnlyTablePd::entryIs(TwiceNatAddrOnlyTableEntry const& entry) {
   programmed(entry);
}

TwiceNatAddrOnlyTable::Programming TwiceNatAddrOnlyTablePd::entryIsReported(
    TwiceNatAddrOnlyTableEntry const& entry) {
   return programmed(entry);
}

}  // namespace BfTwiceNatAddrOnly
