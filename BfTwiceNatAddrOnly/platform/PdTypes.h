#pragma once
// The PD function set of the table twiceNatAddrOnly: argument structures and function types,
// as the generated PD library exports them (C linkage, status 0 for success).
#include <cstdint>

extern "C" {

typedef int32_t p4_pd_status_t;
typedef uint32_t p4_pd_sess_hdl_t;
typedef uint32_t p4_pd_entry_hdl_t;

typedef struct p4_pd_dev_target {
   uint32_t device_id;
   uint16_t dev_pipe_id;  // 0xFFFF: all pipes
} p4_pd_dev_target_t;

typedef struct p4_pd_tolvex_switch_twiceNatAddrOnly_match_spec {
   uint16_t l3InfoVrfId;
   uint32_t outerIpv4HdrDip;
   uint32_t outerIpv4HdrSip;
} p4_pd_tolvex_switch_twiceNatAddrOnly_match_spec_t;

typedef struct p4_pd_tolvex_switch_twiceNatAddrOnlyHit_action_spec {
   uint16_t action_keyId;
   uint16_t action_rwId;
   uint8_t action_prot;
   uint8_t action_frag;
   uint16_t action_nextHop;
} p4_pd_tolvex_switch_twiceNatAddrOnlyHit_action_spec_t;

typedef struct p4_pd_tolvex_switch_twiceNatAddrOnlyHitEcmp_action_spec {
   uint16_t action_keyId;
   uint16_t action_rwId;
   uint8_t action_prot;
   uint8_t action_frag;
   uint16_t action_ecmpGroup;
} p4_pd_tolvex_switch_twiceNatAddrOnlyHitEcmp_action_spec_t;

}  // extern "C"

namespace BfPdTwiceNatAddrOnly {

using MatchSpec = p4_pd_tolvex_switch_twiceNatAddrOnly_match_spec_t;
using HitSpec = p4_pd_tolvex_switch_twiceNatAddrOnlyHit_action_spec_t;
using HitEcmpSpec = p4_pd_tolvex_switch_twiceNatAddrOnlyHitEcmp_action_spec_t;
using DevTarget = p4_pd_dev_target_t;
using Status = p4_pd_status_t;
using Sess = p4_pd_sess_hdl_t;
using Hdl = p4_pd_entry_hdl_t;

// Room for an action name in an entry read, terminator included.
constexpr unsigned kActionNameSize = 64;

using SetPropertyFn = Status (*)(Sess, uint32_t dev, uint32_t property, uint32_t value);
using AddWithOnMissFn = Status (*)(Sess, DevTarget, MatchSpec const*, Hdl*);
using AddWithHitFn = Status (*)(Sess, DevTarget, MatchSpec const*, HitSpec const*, Hdl*);
using AddWithHitEcmpFn = Status (*)(Sess, DevTarget, MatchSpec const*, HitEcmpSpec const*, Hdl*);
using ModifyWithOnMissFn = Status (*)(Sess, uint32_t dev, Hdl);
using ModifyWithHitFn = Status (*)(Sess, uint32_t dev, Hdl, HitSpec const*);
using ModifyWithHitEcmpFn = Status (*)(Sess, uint32_t dev, Hdl, HitEcmpSpec const*);
using SetDefaultOnMissFn = Status (*)(Sess, DevTarget, Hdl*);
using SetDefaultHitFn = Status (*)(Sess, DevTarget, HitSpec const*, Hdl*);
using SetDefaultHitEcmpFn = Status (*)(Sess, DevTarget, HitEcmpSpec const*, Hdl*);
using TableDeleteFn = Status (*)(Sess, uint32_t dev, Hdl);
using ResetDefaultFn = Status (*)(Sess, DevTarget);
// Reads an entry: match spec, action name (kActionNameSize bytes) and action spec (the hit
// layout, which both hit actions share); `readFromHw`, `reserved` (null) and `ttlOut` are the
// PD library's own.
using GetEntryFn = Status (*)(Sess, uint32_t dev, Hdl, bool readFromHw, MatchSpec*,
                              char* actionName, HitSpec*, void* reserved, uint8_t* ttlOut);
// Which optional key fields the table offers, in the bit layout of a match spec's isSet.
using OptionalFieldsFn = uint64_t (*)(uint32_t dev);

}  // namespace BfPdTwiceNatAddrOnly
