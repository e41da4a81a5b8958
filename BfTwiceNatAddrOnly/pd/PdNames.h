#pragma once
// Names that the PD back end reports: the PD functions (as failure messages name them) and
// the function texts of its trace records and failed checks.
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHelper.h"

namespace BfTwiceNatAddrOnly::pd {

#define BF_PD_FN(suffix) "p4_pd_tolvex_switch_twiceNatAddrOnly_" suffix

inline constexpr char kSetProperty[] = BF_PD_FN("set_property");
inline constexpr char kTableDelete[] = BF_PD_FN("table_delete");
inline constexpr char kResetDefault[] = BF_PD_FN("table_reset_default_entry");

// The PD functions of one path, indexed by TwiceNatAddrOnlyActionSpecType.
inline constexpr char const* kAddFn[] = {
    BF_PD_FN("table_add_with_onMiss"),
    BF_PD_FN("table_add_with_twiceNatAddrOnlyHit"),
    BF_PD_FN("table_add_with_twiceNatAddrOnlyHitEcmp"),
};
inline constexpr char const* kModifyFn[] = {
    BF_PD_FN("table_modify_with_onMiss"),
    BF_PD_FN("table_modify_with_twiceNatAddrOnlyHit"),
    BF_PD_FN("table_modify_with_twiceNatAddrOnlyHitEcmp"),
};
inline constexpr char const* kSetDefaultFn[] = {
    BF_PD_FN("set_default_action_onMiss"),
    BF_PD_FN("set_default_action_twiceNatAddrOnlyHit"),
    BF_PD_FN("set_default_action_twiceNatAddrOnlyHitEcmp"),
};

#undef BF_PD_FN

// Action names as an entry read returns them.
inline constexpr char kOnMissName[] = "p4_pd_tolvex_switch_onMiss";
inline constexpr char kHitName[] = "p4_pd_tolvex_switch_twiceNatAddrOnlyHit";
inline constexpr char kHitEcmpName[] = "p4_pd_tolvex_switch_twiceNatAddrOnlyHitEcmp";

inline constexpr char kEntryIsFn[] =
    "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::entryIs(const "
    "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)";
inline constexpr char kEntryDelFn[] =
    "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::entryDel(const PtrConst&)";
inline constexpr char kEntryByHandleFn[] =
    "virtual BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry "
    "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::entryByHandle(BfnTable::BfnSdkEntryHandle) "
    "const";
inline constexpr char kInitializeTableFn[] =
    "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::initializeTable(const Ptr&)";

// The session, device and target every PD call of one operation is made with.
struct PdTarget {
   explicit PdTarget(TwiceNatAddrOnlyTableHelper const& helper)
       : sess(helper.pdLib()->sessionId),
         dev(helper.deviceId()),
         tgt{helper.deviceId(), helper.devPipeId()} {}
   BfPdTwiceNatAddrOnly::Sess sess;
   uint32_t dev;
   BfPdTwiceNatAddrOnly::DevTarget tgt;
};

}  // namespace BfTwiceNatAddrOnly::pd
