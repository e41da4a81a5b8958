#pragma once
// The action of one entry: the base spec with the four common parameters, and one subclass
// per P4 action. `actionType` agrees with the class; the back ends choose the action by it.
#include <typeinfo>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecType.h"
#include "Pemra/Ptr.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyBaseActionSpec : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyBaseActionSpec>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyBaseActionSpec const>;

   TwiceNatAddrOnlyBaseActionSpec() = default;
   static Ptr TwiceNatAddrOnlyBaseActionSpecIs() { return new TwiceNatAddrOnlyBaseActionSpec(); }

   TwiceNatAddrOnlyActionSpecType actionType() const { return actionType_; }
   void actionTypeIs(TwiceNatAddrOnlyActionSpecType v) { actionType_ = v; }
   U8 frag() const { return frag_; }
   void fragIs(U8 v) { frag_ = v; }
   U16 keyId() const { return keyId_; }
   void keyIdIs(U16 v) { keyId_ = v; }
   U8 prot() const { return prot_; }
   void protIs(U8 v) { prot_ = v; }
   U16 rwId() const { return rwId_; }
   void rwIdIs(U16 v) { rwId_ = v; }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyBaseActionSpec)

 protected:
   ~TwiceNatAddrOnlyBaseActionSpec() override = default;

 private:
   TwiceNatAddrOnlyActionSpecType actionType_ = onMissActionSpec;
   U8 frag_ = 0;
   U16 keyId_ = 0;
   U8 prot_ = 0;
   U16 rwId_ = 0;
};

class OnMissActionSpec : public TwiceNatAddrOnlyBaseActionSpec {
 public:
   using Ptr = Pemra::Ptr<OnMissActionSpec>;
   using PtrConst = Pemra::Ptr<OnMissActionSpec const>;

   OnMissActionSpec() { actionTypeIs(onMissActionSpec); }
   static Ptr OnMissActionSpecIs() { return new OnMissActionSpec(); }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(OnMissActionSpec)

 protected:
   ~OnMissActionSpec() override = default;
};

class TwiceNatAddrOnlyHitActionSpec : public TwiceNatAddrOnlyBaseActionSpec {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyHitActionSpec>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyHitActionSpec const>;

   TwiceNatAddrOnlyHitActionSpec() { actionTypeIs(twiceNatAddrOnlyHitActionSpec); }
   static Ptr TwiceNatAddrOnlyHitActionSpecIs() { return new TwiceNatAddrOnlyHitActionSpec(); }

   U16 nextHop() const { return nextHop_; }
   void nextHopIs(U16 v) { nextHop_ = v; }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyHitActionSpec)

 protected:
   ~TwiceNatAddrOnlyHitActionSpec() override = default;

 private:
   U16 nextHop_ = 0;
};

class TwiceNatAddrOnlyHitEcmpActionSpec : public TwiceNatAddrOnlyBaseActionSpec {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyHitEcmpActionSpec>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyHitEcmpActionSpec const>;

   TwiceNatAddrOnlyHitEcmpActionSpec() { actionTypeIs(twiceNatAddrOnlyHitEcmpActionSpec); }
   static Ptr TwiceNatAddrOnlyHitEcmpActionSpecIs() {
      return new TwiceNatAddrOnlyHitEcmpActionSpec();
   }

   U16 ecmpGroup() const { return ecmpGroup_; }
   void ecmpGroupIs(U16 v) { ecmpGroup_ = v; }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyHitEcmpActionSpec)

 protected:
   ~TwiceNatAddrOnlyHitEcmpActionSpec() override = default;

 private:
   U16 ecmpGroup_ = 0;
};

// The action as class T, or null when it is no T. The exact class is tried first: a compare
// of type identities, where the cast walks the class tree.
template <class T>
T const* actionSpecAs(TwiceNatAddrOnlyBaseActionSpec const& action) {
   if (typeid(action) == typeid(T)) return static_cast<T const*>(&action);
   return dynamic_cast<T const*>(&action);
}

inline TwiceNatAddrOnlyBaseActionSpec::Ptr twiceNatAddrOnlyBaseActionSpecFactory() {
   return TwiceNatAddrOnlyBaseActionSpec::TwiceNatAddrOnlyBaseActionSpecIs();
}
inline OnMissActionSpec::Ptr onMissActionSpecFactory() {
   return OnMissActionSpec::OnMissActionSpecIs();
}
inline TwiceNatAddrOnlyHitActionSpec::Ptr twiceNatAddrOnlyHitActionSpecFactory() {
   return TwiceNatAddrOnlyHitActionSpec::TwiceNatAddrOnlyHitActionSpecIs();
}
inline TwiceNatAddrOnlyHitEcmpActionSpec::Ptr twiceNatAddrOnlyHitEcmpActionSpecFactory() {
   return TwiceNatAddrOnlyHitEcmpActionSpec::TwiceNatAddrOnlyHitEcmpActionSpecIs();
}

}  // namespace BfTwiceNatAddrOnly
