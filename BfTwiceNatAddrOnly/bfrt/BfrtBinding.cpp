// Binding of the BfRt tables: everything the entry operations can prepare once.
#include "BfTwiceNatAddrOnly/bfrt/BfrtAccess.h"
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

using namespace BfTwiceNatAddrOnly;

void initBfRtTable(TwiceNatAddrOnlyTableHelper::Ptr const& helper, BfRt::BfRtTablePtr table) {
   static constexpr char kFn[] =
       "void initBfRtTable(const BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHelper::Ptr&, "
       "BfRt::BfRtTablePtr)";
   using Kind = bfrt::BfRtTable::TableType;
   using bfrtAccess::check;
   BF_TRACE(kFn, "initBfRtTable");
   bfrt::BfRtTarget const target = bfrtAccess::target(*helper);
   bfrt::BfRtSession const* session = bfrtAccess::session(*helper->pdLib());
   BfrtModuleObjects& m = bfrtAccess::module();

   Kind kind = Kind::MATCH_DIRECT;
   check(table->tableTypeGet(&kind));
   if (kind == Kind::SELECTOR) {
      check(table->keyAllocate(&m.selectorKey));
      check(table->dataAllocate(&m.selectorData));
   } else if (kind == Kind::ACTION_PROFILE) {
      check(table->keyAllocate(&m.actionProfileKey));
      check(table->dataAllocate(&m.actionProfileData));
   } else {
      check(table->keyAllocate(&m.programKey));
      check(table->keyReset(m.programKey.get()));
      check(table->keyAllocate(&m.readKey));
      check(table->dataAllocate(&m.readData));
      // The action data objects may come from another table: each is made afresh at its
      // next programming.
      m.onMissDataPrepared = false;
      m.hitDataPrepared = false;
      m.hitEcmpDataPrepared = false;
   }
   // The table keeps the target for calls that take none; what it answers does not matter.
   (void)table->devTargetSet(target);
   if (static_cast<uint32_t>(kind) > static_cast<uint32_t>(Kind::MATCH_INDIRECT_SELECTOR)) return;

   std::unique_ptr<bfrt::BfRtTableAttributes> tableAttrScope;
   check(table->attributeAllocate(bfrt::TableAttributesType::ENTRY_SCOPE, &tableAttrScope));
   BF_CHECK(tableAttrScope, "tableAttrScope", kFn);
   bfrt::TableEntryScope const scope = helper->devPipeId() != 0xFFFF
                                           ? bfrt::TableEntryScope::ENTRY_SCOPE_SINGLE_PIPELINE
                                           : bfrt::TableEntryScope::ENTRY_SCOPE_ALL_PIPELINES;
   check(tableAttrScope->entryScopeParamsSet(scope));
   check(table->tableAttributesSet(*session, target, *tableAttrScope));
}

namespace BfTwiceNatAddrOnly {

void TwiceNatAddrOnlyTableBfrt::initializeTable(TwiceNatAddrOnlyTableHelper::Ptr const& helper) {
   static constexpr char kFn[] =
       "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::initializeTable(const Ptr&)";
   BF_TRACE(kFn, "initializeTable");
   TwiceNatAddrOnlyTableHelper::PdLib const& pdLib = *helper->pdLib();
   BfRt::BfRtTablePtr const second = pdLib.bfRtSecondTable;
   BfRt::BfRtTablePtr const third = pdLib.bfRtThirdTable;
   initBfRtTable(helper, pdLib.bfRtTable);
   if (second) initBfRtTable(helper, second);
   if (third) initBfRtTable(helper, third);
}

}  // namespace BfTwiceNatAddrOnly
