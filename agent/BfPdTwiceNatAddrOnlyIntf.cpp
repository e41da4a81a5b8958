#include "BfTwiceNatAddrOnly/platform/BfPdTwiceNatAddrOnlyIntf.h"

#include <dlfcn.h>

#include "Zin/Exception.h"
#include "Zin/TypeRegistry.h"
#include "agent/AgentBfRtTableIntf.h"

namespace BfPdTwiceNatAddrOnly {

namespace {

constexpr char kPrefix[] = "p4_pd_tolvex_switch_twiceNatAddrOnly_";
constexpr char kTableName[] = "twiceNatAddrOnly";
constexpr char kActionProfileTableName[] = "twiceNatAddrOnlyActionProfile";

Zin::TypeDescriptor const& intfType() {
   static Zin::TypeDescriptor* d =
       new Zin::TypeDescriptor("BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf",
                               Zin::TypeDescriptor::Kind::cls, &Zin::ptrInterfaceType());
   return *d;
}

struct IntfModule {
   IntfModule() {
      Zin::TypeRegistry::instance().moduleIs("BfPdTwiceNatAddrOnly",
                                             {&intfType(), &BfRt::AgentBfRtTableIntf::type()});
   }
} intfModule;

template <class Fn>
void bind(Fn* fn, void* dl, Pemra::String const& lib, char const* suffix) {
   std::string symbol = std::string(kPrefix) + suffix;
   void* p = ::dlsym(dl, symbol.c_str());
   if (!p) throw Zin::Exception("PD library '" + lib + "' has no symbol '" + symbol + "'");
   *fn = reinterpret_cast<Fn>(p);
}

// An id the table must have; a missing one means the device runs another program.
void need(bfrt::bf_status_t status, char const* what, std::string const& name, U8 dev) {
   if (status != 0) {
      throw Zin::Exception("BfRt table '" + std::string(kTableName) + "' of device " +
                           std::to_string(dev) + " has no " + what + " '" + name + "' (status " +
                           std::to_string(status) + ")");
   }
}

}  // namespace

BfPdTwiceNatAddrOnlyIntf::BfPdTwiceNatAddrOnlyIntf(U8 deviceId, Pemra::String const& pdLibName,
                                                   void* dlHandle, U32 sessionId)
    : pdLibName(pdLibName), dlHandle(dlHandle), sessionId(sessionId), deviceId(deviceId) {
   if (!dlHandle) throw Zin::Exception("PD library '" + pdLibName + "' is not loaded");
   bind(&setProperty, dlHandle, pdLibName, "set_property");
   bind(&tableAddWithOnMiss, dlHandle, pdLibName, "table_add_with_onMiss");
   bind(&tableAddWithTwiceNatAddrOnlyHit, dlHandle, pdLibName,
        "table_add_with_twiceNatAddrOnlyHit");
   bind(&tableAddWithTwiceNatAddrOnlyHitEcmp, dlHandle, pdLibName,
        "table_add_with_twiceNatAddrOnlyHitEcmp");
   bind(&tableModifyWithOnMiss, dlHandle, pdLibName, "table_modify_with_onMiss");
   bind(&tableModifyWithTwiceNatAddrOnlyHit, dlHandle, pdLibName,
        "table_modify_with_twiceNatAddrOnlyHit");
   bind(&tableModifyWithTwiceNatAddrOnlyHitEcmp, dlHandle, pdLibName,
        "table_modify_with_twiceNatAddrOnlyHitEcmp");
   bind(&setDefaultActionOnMiss, dlHandle, pdLibName, "set_default_action_onMiss");
   bind(&setDefaultActionTwiceNatAddrOnlyHit, dlHandle, pdLibName,
        "set_default_action_twiceNatAddrOnlyHit");
   bind(&setDefaultActionTwiceNatAddrOnlyHitEcmp, dlHandle, pdLibName,
        "set_default_action_twiceNatAddrOnlyHitEcmp");
   bind(&tableDelete, dlHandle, pdLibName, "table_delete");
   bind(&tableResetDefaultEntry, dlHandle, pdLibName, "table_reset_default_entry");
   bind(&getEntry, dlHandle, pdLibName, "get_entry");
   OptionalFieldsFn optionalFields = nullptr;
   bind(&optionalFields, dlHandle, pdLibName, "optional_fields");
   optionalFieldsIndication = std::uintptr_t(optionalFields(deviceId));

   // Without BfRt information the device is driven through the PD functions alone.
   bfrt::BfRtInfo const* info = bfrt::BfRtDevMgr::getInstance().bfRtInfoGet(deviceId);
   if (!info) return;
   bfrt::TolvexBfRtTable const* table = nullptr;
   need(info->bfrtTableFromNameGet(kTableName, &table), "table", kTableName, deviceId);
   bfrt::TolvexBfRtTable const* profileTable = nullptr;
   if (info->bfrtTableFromNameGet(kActionProfileTableName, &profileTable) == 0) {
      bfRtSecondTable = profileTable;
   }
   bfRtTableIntf = BfRt::AgentBfRtTableIntf::agentBfRtTableIntfIs(*info);

   hasVrfKeyField = table->keyFieldIdGet("l3InfoVrfId", &vrfKeyFieldId) == 0;
   if (!hasVrfKeyField) vrfKeyFieldId = 0;
   auto keyField = [&](char const* name, U32* id) {
      need(table->keyFieldIdGet(name, id), "key field", name, deviceId);
   };
   keyField("outerIpv4HdrDip", &dipKeyFieldId);
   keyField("outerIpv4HdrSip", &sipKeyFieldId);
   auto action = [&](char const* name, U32* id) {
      need(table->actionIdGet(name, id), "action", name, deviceId);
   };
   action("onMiss", &actionIdOnMiss);
   action("twiceNatAddrOnlyHit", &actionIdHit);
   action("twiceNatAddrOnlyHitEcmp", &actionIdHitEcmp);
   auto dataField = [&](char const* name, U32 actionId, U32* id) {
      need(table->dataFieldIdGet(name, actionId, id), "data field", name, deviceId);
   };
   dataField("keyId", actionIdHit, &hitKeyIdFieldId);
   dataField("rwId", actionIdHit, &hitRwIdFieldId);
   dataField("prot", actionIdHit, &hitProtFieldId);
   dataField("frag", actionIdHit, &hitFragFieldId);
   dataField("nextHop", actionIdHit, &hitNextHopFieldId);
   dataField("keyId", actionIdHitEcmp, &hitEcmpKeyIdFieldId);
   dataField("rwId", actionIdHitEcmp, &hitEcmpRwIdFieldId);
   dataField("prot", actionIdHitEcmp, &hitEcmpProtFieldId);
   dataField("frag", actionIdHitEcmp, &hitEcmpFragFieldId);
   dataField("ecmpGroup", actionIdHitEcmp, &hitEcmpEcmpGroupFieldId);
   // Last, so that a failure above leaves the object without a half-bound BfRt table.
   bfRtTable = table;
}

BfPdTwiceNatAddrOnlyIntf::~BfPdTwiceNatAddrOnlyIntf() = default;

Zin::TypeDescriptor const* BfPdTwiceNatAddrOnlyIntf::fwkType() const {
   return &intfType();
}

}  // namespace BfPdTwiceNatAddrOnly
