// What an agent without the library does for the same work, the baselines of the hot paths: the
// bare PD calls, or the bare BfRt calls (key fields, data reset and values, add, modify and
// delete by handle), each choosing the SDK's function or action by the action spec's type, and
// a read by handle that builds the same new match and action objects a readback returns. The
// caller keeps the handles itself. Every call aborts on a status other than success: a
// baseline that fails measures nothing.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>

#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTable.h"

namespace bench {

using namespace BfTwiceNatAddrOnly;

inline void ok(int status) {
   if (status != 0) std::abort();
}

inline TwiceNatAddrOnlyTableEntry builtEntry(U16 vrf, U32 dip, U32 sip,
                                             TwiceNatAddrOnlyBaseActionSpec::PtrConst action) {
   auto match = twiceNatAddrOnlyMatchSpecFactory();
   match->outerIpv4HdrDipIs(dip);
   match->outerIpv4HdrSipIs(sip);
   match->l3InfoVrfIdIs(vrf);
   TwiceNatAddrOnlyTableEntry entry(std::move(match));
   entry.actionIs(std::move(action));
   return entry;
}

template <class Spec, class Params>
Pemra::Ptr<Spec> hitAction(Params const& p, U16 last) {
   Pemra::Ptr<Spec> a = new Spec();
   a->keyIdIs(static_cast<U16>(p.keyId));
   a->rwIdIs(static_cast<U16>(p.rwId));
   a->protIs(static_cast<U8>(p.prot));
   a->fragIs(static_cast<U8>(p.frag));
   if constexpr (requires { a->nextHopIs(last); }) {
      a->nextHopIs(last);
   } else {
      a->ecmpGroupIs(last);
   }
   return a;
}

class BarePd {
 public:
   BarePd(BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf const& pd, U8 dev, U32 session)
       : pd_(pd), sess_(session), dev_(dev), tgt_{dev, 0xFFFF} {}

   U32 add(TwiceNatAddrOnlyMatchSpec const& m, TwiceNatAddrOnlyBaseActionSpec const& a) {
      BfPdTwiceNatAddrOnly::MatchSpec const pm{m.l3InfoVrfId(), m.outerIpv4HdrDip(),
                                               m.outerIpv4HdrSip()};
      U32 h = 0;
      switch (a.actionType()) {
         case twiceNatAddrOnlyHitActionSpec: {
            auto const s = hitSpec(static_cast<TwiceNatAddrOnlyHitActionSpec const&>(a));
            ok(pd_.tableAddWithTwiceNatAddrOnlyHit(sess_, tgt_, &pm, &s, &h));
            break;
         }
         case twiceNatAddrOnlyHitEcmpActionSpec: {
            auto const s = ecmpSpec(static_cast<TwiceNatAddrOnlyHitEcmpActionSpec const&>(a));
            ok(pd_.tableAddWithTwiceNatAddrOnlyHitEcmp(sess_, tgt_, &pm, &s, &h));
            break;
         }
         default:
            ok(pd_.tableAddWithOnMiss(sess_, tgt_, &pm, &h));
      }
      return h;
   }
   void modify(U32 h, TwiceNatAddrOnlyBaseActionSpec const& a) {
      switch (a.actionType()) {
         case twiceNatAddrOnlyHitActionSpec: {
            auto const s = hitSpec(static_cast<TwiceNatAddrOnlyHitActionSpec const&>(a));
            ok(pd_.tableModifyWithTwiceNatAddrOnlyHit(sess_, dev_, h, &s));
            break;
         }
         case twiceNatAddrOnlyHitEcmpActionSpec: {
            auto const s = ecmpSpec(static_cast<TwiceNatAddrOnlyHitEcmpActionSpec const&>(a));
            ok(pd_.tableModifyWithTwiceNatAddrOnlyHitEcmp(sess_, dev_, h, &s));
            break;
         }
         default:
            ok(pd_.tableModifyWithOnMiss(sess_, dev_, h));
      }
   }
   void remove(U32 h) { ok(pd_.tableDelete(sess_, dev_, h)); }

   TwiceNatAddrOnlyTableEntry read(U32 h) const {
      BfPdTwiceNatAddrOnly::MatchSpec m{};
      BfPdTwiceNatAddrOnly::HitSpec a{};
      char name[BfPdTwiceNatAddrOnly::kActionNameSize] = {};
      U8 ttl = 0;
      ok(pd_.getEntry(sess_, dev_, h, false, &m, name, &a, nullptr, &ttl));
      struct {
         U16 keyId, rwId;
         U8 prot, frag;
      } const p{a.action_keyId, a.action_rwId, a.action_prot, a.action_frag};
      TwiceNatAddrOnlyBaseActionSpec::PtrConst action;
      if (std::strcmp(name, "p4_pd_tolvex_switch_twiceNatAddrOnlyHit") == 0) {
         action = hitAction<TwiceNatAddrOnlyHitActionSpec>(p, a.action_nextHop);
      } else if (std::strcmp(name, "p4_pd_tolvex_switch_twiceNatAddrOnlyHitEcmp") == 0) {
         action = hitAction<TwiceNatAddrOnlyHitEcmpActionSpec>(p, a.action_nextHop);
      } else {
         action = onMissActionSpecFactory();
      }
      return builtEntry(m.l3InfoVrfId, m.outerIpv4HdrDip, m.outerIpv4HdrSip, std::move(action));
   }

 private:
   template <class Spec>
   static BfPdTwiceNatAddrOnly::HitSpec hitSpec(Spec const& a) {
      return {a.keyId(), a.rwId(), a.prot(), a.frag(), a.nextHop()};
   }
   template <class Spec>
   static BfPdTwiceNatAddrOnly::HitEcmpSpec ecmpSpec(Spec const& a) {
      return {a.keyId(), a.rwId(), a.prot(), a.frag(), a.ecmpGroup()};
   }

   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf const& pd_;
   BfPdTwiceNatAddrOnly::Sess sess_;
   uint32_t dev_;
   BfPdTwiceNatAddrOnly::DevTarget tgt_;
};

// One key and one data object, ids known, each data reset to its action before use.
class BareBfrt {
 public:
   BareBfrt(BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf const& pd, U8 dev)
       : pd_(pd),
         table_(*pd.bfRtTable),
         session_(pd.bfRtTableIntf->bfRtSessionGet()),
         target_{static_cast<int32_t>(dev), 0xFFFF} {
      ok(table_.keyAllocate(&key_));
      ok(table_.dataAllocate(&data_));
   }

   U32 add(TwiceNatAddrOnlyMatchSpec const& m, TwiceNatAddrOnlyBaseActionSpec const& a) {
      if (pd_.hasVrfKeyField) ok(key_->setValue(pd_.vrfKeyFieldId, m.l3InfoVrfId()));
      ok(key_->setValue(pd_.dipKeyFieldId, m.outerIpv4HdrDip()));
      ok(key_->setValue(pd_.sipKeyFieldId, m.outerIpv4HdrSip()));
      dataOf(a);
      U32 h = 0;
      ok(table_.tableEntryAdd(*session_, target_, *key_, *data_, &h));
      return h;
   }
   void modify(U32 h, TwiceNatAddrOnlyBaseActionSpec const& a) {
      dataOf(a);
      ok(table_.tableEntryModByHandle(*session_, target_, 0, h, *data_));
   }
   void remove(U32 h) { ok(table_.tableEntryDelByHandle(*session_, target_, h)); }

   TwiceNatAddrOnlyTableEntry read(U32 h) {
      ok(table_.keyReset(key_.get()));
      ok(table_.dataReset(data_.get()));
      ok(table_.tableEntryGet(*session_, target_, 0, h, key_.get(), data_.get()));
      bfrt::bf_rt_id_t actionId = 0;
      ok(data_->actionIdGet(&actionId));
      TwiceNatAddrOnlyBaseActionSpec::PtrConst action;
      if (actionId == pd_.actionIdHit) {
         action = hitAction<TwiceNatAddrOnlyHitActionSpec>(
             params(pd_.hitKeyIdFieldId, pd_.hitRwIdFieldId, pd_.hitProtFieldId,
                    pd_.hitFragFieldId),
             static_cast<U16>(field(*data_, pd_.hitNextHopFieldId)));
      } else if (actionId == pd_.actionIdHitEcmp) {
         action = hitAction<TwiceNatAddrOnlyHitEcmpActionSpec>(
             params(pd_.hitEcmpKeyIdFieldId, pd_.hitEcmpRwIdFieldId, pd_.hitEcmpProtFieldId,
                    pd_.hitEcmpFragFieldId),
             static_cast<U16>(field(*data_, pd_.hitEcmpEcmpGroupFieldId)));
      } else {
         action = onMissActionSpecFactory();
      }
      U16 const vrf = pd_.hasVrfKeyField ? static_cast<U16>(field(*key_, pd_.vrfKeyFieldId)) : 0;
      return builtEntry(vrf, static_cast<U32>(field(*key_, pd_.dipKeyFieldId)),
                        static_cast<U32>(field(*key_, pd_.sipKeyFieldId)), std::move(action));
   }

   // Data of a default set: the action's data as a programming writes it.
   bfrt::BfRtTableData const& data(TwiceNatAddrOnlyBaseActionSpec const& a) {
      dataOf(a);
      return *data_;
   }
   bfrt::TolvexBfRtTable const& table() const { return table_; }
   bfrt::BfRtSession const& session() const { return *session_; }
   bfrt::BfRtTarget const& target() const { return target_; }

 private:
   struct Params {
      U64 keyId, rwId, prot, frag;
   };
   template <class Obj>
   static U64 field(Obj const& obj, U32 id) {
      U64 v = 0;
      ok(obj.getValue(id, &v));
      return v;
   }
   Params params(U32 keyId, U32 rwId, U32 prot, U32 frag) const {
      return {field(*data_, keyId), field(*data_, rwId), field(*data_, prot), field(*data_, frag)};
   }
   void dataOf(TwiceNatAddrOnlyBaseActionSpec const& a) {
      switch (a.actionType()) {
         case twiceNatAddrOnlyHitActionSpec:
            values(pd_.actionIdHit, a, pd_.hitKeyIdFieldId, pd_.hitRwIdFieldId, pd_.hitProtFieldId,
                   pd_.hitFragFieldId);
            ok(data_->setValue(pd_.hitNextHopFieldId,
                               static_cast<TwiceNatAddrOnlyHitActionSpec const&>(a).nextHop()));
            break;
         case twiceNatAddrOnlyHitEcmpActionSpec:
            values(pd_.actionIdHitEcmp, a, pd_.hitEcmpKeyIdFieldId, pd_.hitEcmpRwIdFieldId,
                   pd_.hitEcmpProtFieldId, pd_.hitEcmpFragFieldId);
            ok(data_->setValue(
                pd_.hitEcmpEcmpGroupFieldId,
                static_cast<TwiceNatAddrOnlyHitEcmpActionSpec const&>(a).ecmpGroup()));
            break;
         default:
            ok(table_.dataReset(pd_.actionIdOnMiss, data_.get()));
      }
   }
   void values(U32 actionId, TwiceNatAddrOnlyBaseActionSpec const& a, U32 keyId, U32 rwId, U32 prot,
               U32 frag) {
      ok(table_.dataReset(actionId, data_.get()));
      ok(data_->setValue(keyId, a.keyId()));
      ok(data_->setValue(rwId, a.rwId()));
      ok(data_->setValue(prot, a.prot()));
      ok(data_->setValue(frag, a.frag()));
   }

   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf const& pd_;
   bfrt::TolvexBfRtTable const& table_;
   std::shared_ptr<bfrt::BfRtSession> session_;
   bfrt::BfRtTarget target_;
   std::unique_ptr<bfrt::BfRtTableKey> key_;
   std::unique_ptr<bfrt::BfRtTableData> data_;
};

}  // namespace bench
