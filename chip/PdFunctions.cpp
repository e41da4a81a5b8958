// The PD function set of twiceNatAddrOnly over the simulated chip. Each function finds the
// chip by device id; a device that is not attached is refused with "invalid arguments".
#include <cstring>

#include "BfTwiceNatAddrOnly/platform/PdTypes.h"
#include "chip/Chip.h"
#include "chip/Devices.h"
#include "chip/SdkCall.h"

#define PD_NAME(suffix) "p4_pd_tolvex_switch_twiceNatAddrOnly_" #suffix
#define PD_EXPORT extern "C" __attribute__((visibility("default")))

using namespace BfPdTwiceNatAddrOnly;

namespace chip {
namespace {

constexpr char const* kActionNames[] = {"p4_pd_tolvex_switch_onMiss",
                                        "p4_pd_tolvex_switch_twiceNatAddrOnlyHit",
                                        "p4_pd_tolvex_switch_twiceNatAddrOnlyHitEcmp"};

// Property code of the entry scope; value 0 all pipes, 1 single pipe.
constexpr uint32_t kEntryScopeProperty = 1;

template <class Spec>
ActionRec actionOf(Action action, Spec const& s) {
   ActionRec a;
   a.action = action;
   a.params[0] = s.action_keyId;
   a.params[1] = s.action_rwId;
   a.params[2] = s.action_prot;
   a.params[3] = s.action_frag;
   if constexpr (requires { s.action_nextHop; }) {
      a.params[4] = s.action_nextHop;
   } else {
      a.params[4] = s.action_ecmpGroup;
   }
   return a;
}

Key keyOf(Chip const& chip, uint16_t pipe, MatchSpec const& m) {
   Key k;
   k.pipe = pipe;
   // Without the VRF key field the table has no VRF to match on.
   k.vrf = chip.profile().vrfKeyField ? m.l3InfoVrfId : 0;
   k.dip = m.outerIpv4HdrDip;
   k.sip = m.outerIpv4HdrSip;
   return k;
}

// The chip and entry pipe of a target, or a status.
Status resolve(DevTarget tgt, Chip** chip, uint16_t* pipe) {
   *chip = attached(tgt.device_id);
   if (!*chip) return status::kInvalidArg;
   return (*chip)->targetPipe(tgt.dev_pipe_id, pipe);
}

Status add(DevTarget tgt, MatchSpec const* match, ActionRec const& act, Hdl* hdl) {
   Chip* chip;
   uint16_t pipe;
   Status st = resolve(tgt, &chip, &pipe);
   if (st != status::kOk) return st;
   if (!match || !hdl) return status::kInvalidArg;
   return chip->entryAdd(keyOf(*chip, pipe, *match), act, hdl);
}

Status modify(uint32_t dev, Hdl hdl, ActionRec const& act) {
   Chip* chip = attached(dev);
   return chip ? chip->entryMod(hdl, act) : status::kInvalidArg;
}

Status defaultSet(DevTarget tgt, ActionRec const& act, Hdl* hdl) {
   Chip* chip;
   uint16_t pipe;
   Status st = resolve(tgt, &chip, &pipe);
   if (st != status::kOk) return st;
   if (!hdl) return status::kInvalidArg;
   return chip->defaultSet(pipe, act, hdl);
}

// Journal numbers of a match spec and an action spec (zeros for null pointers).
struct M {
   uint64_t vrf = 0, dip = 0, sip = 0;
   explicit M(MatchSpec const* m) {
      if (m) vrf = m->l3InfoVrfId, dip = m->outerIpv4HdrDip, sip = m->outerIpv4HdrSip;
   }
};
struct A {
   uint64_t p[kParams] = {};
   template <class Spec>
   explicit A(Spec const* s) {
      if (s) {
         ActionRec r = actionOf(Action::hit, *s);
         for (unsigned i = 0; i < kParams; ++i)
            p[i] = r.params[i];
      }
   }
};

}  // namespace
}  // namespace chip

using namespace chip;

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_set_property(Sess sess, uint32_t dev,
                                                                   uint32_t property,
                                                                   uint32_t value) {
   return sdkCall(PD_NAME(set_property), {sess, dev, property, value}, [&] {
      Chip* chip = attached(dev);
      if (!chip || property != kEntryScopeProperty) return status::kInvalidArg;
      return chip->scopeIs(value);
   });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_onMiss(Sess sess,
                                                                            DevTarget tgt,
                                                                            MatchSpec const* match,
                                                                            Hdl* hdl) {
   M m(match);
   return sdkCall(PD_NAME(table_add_with_onMiss),
                  {sess, tgt.device_id, tgt.dev_pipe_id, m.vrf, m.dip, m.sip},
                  [&] { return add(tgt, match, ActionRec{}, hdl); });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHit(
    Sess sess, DevTarget tgt, MatchSpec const* match, HitSpec const* spec, Hdl* hdl) {
   M m(match);
   A a(spec);
   return sdkCall(PD_NAME(table_add_with_twiceNatAddrOnlyHit),
                  {sess, tgt.device_id, tgt.dev_pipe_id, m.vrf, m.dip, m.sip, a.p[0], a.p[1],
                   a.p[2], a.p[3], a.p[4]},
                  [&] {
                     if (!spec) return status::kInvalidArg;
                     return add(tgt, match, actionOf(Action::hit, *spec), hdl);
                  });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHitEcmp(
    Sess sess, DevTarget tgt, MatchSpec const* match, HitEcmpSpec const* spec, Hdl* hdl) {
   M m(match);
   A a(spec);
   return sdkCall(PD_NAME(table_add_with_twiceNatAddrOnlyHitEcmp),
                  {sess, tgt.device_id, tgt.dev_pipe_id, m.vrf, m.dip, m.sip, a.p[0], a.p[1],
                   a.p[2], a.p[3], a.p[4]},
                  [&] {
                     if (!spec) return status::kInvalidArg;
                     return add(tgt, match, actionOf(Action::hitEcmp, *spec), hdl);
                  });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_table_modify_with_onMiss(Sess sess,
                                                                               uint32_t dev,
                                                                               Hdl hdl) {
   return sdkCall(PD_NAME(table_modify_with_onMiss), {sess, dev, hdl},
                  [&] { return modify(dev, hdl, ActionRec{}); });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_table_modify_with_twiceNatAddrOnlyHit(
    Sess sess, uint32_t dev, Hdl hdl, HitSpec const* spec) {
   A a(spec);
   return sdkCall(PD_NAME(table_modify_with_twiceNatAddrOnlyHit),
                  {sess, dev, hdl, a.p[0], a.p[1], a.p[2], a.p[3], a.p[4]}, [&] {
                     if (!spec) return status::kInvalidArg;
                     return modify(dev, hdl, actionOf(Action::hit, *spec));
                  });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_table_modify_with_twiceNatAddrOnlyHitEcmp(
    Sess sess, uint32_t dev, Hdl hdl, HitEcmpSpec const* spec) {
   A a(spec);
   return sdkCall(PD_NAME(table_modify_with_twiceNatAddrOnlyHitEcmp),
                  {sess, dev, hdl, a.p[0], a.p[1], a.p[2], a.p[3], a.p[4]}, [&] {
                     if (!spec) return status::kInvalidArg;
                     return modify(dev, hdl, actionOf(Action::hitEcmp, *spec));
                  });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_set_default_action_onMiss(Sess sess,
                                                                                DevTarget tgt,
                                                                                Hdl* hdl) {
   return sdkCall(PD_NAME(set_default_action_onMiss), {sess, tgt.device_id, tgt.dev_pipe_id},
                  [&] { return defaultSet(tgt, ActionRec{}, hdl); });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_set_default_action_twiceNatAddrOnlyHit(
    Sess sess, DevTarget tgt, HitSpec const* spec, Hdl* hdl) {
   A a(spec);
   return sdkCall(PD_NAME(set_default_action_twiceNatAddrOnlyHit),
                  {sess, tgt.device_id, tgt.dev_pipe_id, a.p[0], a.p[1], a.p[2], a.p[3], a.p[4]},
                  [&] {
                     if (!spec) return status::kInvalidArg;
                     return defaultSet(tgt, actionOf(Action::hit, *spec), hdl);
                  });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_set_default_action_twiceNatAddrOnlyHitEcmp(
    Sess sess, DevTarget tgt, HitEcmpSpec const* spec, Hdl* hdl) {
   A a(spec);
   return sdkCall(PD_NAME(set_default_action_twiceNatAddrOnlyHitEcmp),
                  {sess, tgt.device_id, tgt.dev_pipe_id, a.p[0], a.p[1], a.p[2], a.p[3], a.p[4]},
                  [&] {
                     if (!spec) return status::kInvalidArg;
                     return defaultSet(tgt, actionOf(Action::hitEcmp, *spec), hdl);
                  });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_table_delete(Sess sess, uint32_t dev,
                                                                   Hdl hdl) {
   return sdkCall(PD_NAME(table_delete), {sess, dev, hdl}, [&] {
      Chip* chip = attached(dev);
      return chip ? chip->entryDel(hdl) : status::kInvalidArg;
   });
}

PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_table_reset_default_entry(Sess sess,
                                                                                DevTarget tgt) {
   return sdkCall(PD_NAME(table_reset_default_entry), {sess, tgt.device_id, tgt.dev_pipe_id}, [&] {
      Chip* chip;
      uint16_t pipe;
      Status st = resolve(tgt, &chip, &pipe);
      return st != status::kOk ? st : chip->defaultReset(pipe);
   });
}

// The action spec comes back in the hit layout, which both hit actions share; `reserved`
// must be null and `ttlOut`, when given, receives 0 (the table keeps no idle time).
PD_EXPORT Status p4_pd_tolvex_switch_twiceNatAddrOnly_get_entry(Sess sess, uint32_t dev, Hdl hdl,
                                                                bool readFromHw, MatchSpec* match,
                                                                char* actionName, HitSpec* spec,
                                                                void* reserved, uint8_t* ttlOut) {
   return sdkCall(PD_NAME(get_entry), {sess, dev, hdl, readFromHw}, [&] {
      Chip* chip = attached(dev);
      if (!chip || !match || !actionName || !spec || reserved) return status::kInvalidArg;
      EntryView e;
      Status st = chip->entryGet(hdl, &e);
      if (st != status::kOk) return st;
      match->l3InfoVrfId = e.key.vrf;
      match->outerIpv4HdrDip = e.key.dip;
      match->outerIpv4HdrSip = e.key.sip;
      char const* name = kActionNames[unsigned(e.act.action)];
      std::memcpy(actionName, name, std::strlen(name) + 1);
      bool hit = e.act.action != Action::onMiss;
      // Hardware fields are as wide as the PD structure's; wider stored values lose their high
      // bits.
      spec->action_keyId = hit ? uint16_t(e.act.params[0]) : 0;
      spec->action_rwId = hit ? uint16_t(e.act.params[1]) : 0;
      spec->action_prot = hit ? uint8_t(e.act.params[2]) : 0;
      spec->action_frag = hit ? uint8_t(e.act.params[3]) : 0;
      spec->action_nextHop = hit ? uint16_t(e.act.params[4]) : 0;
      if (ttlOut) *ttlOut = 0;
      return status::kOk;
   });
}

PD_EXPORT uint64_t p4_pd_tolvex_switch_twiceNatAddrOnly_optional_fields(uint32_t dev) {
   uint64_t fields = 0;
   sdkCall(PD_NAME(optional_fields), {dev}, [&] {
      Chip* chip = attached(dev);
      fields = chip && chip->profile().vrfKeyField ? 1 : 0;
      return status::kOk;
   });
   return fields;
}
