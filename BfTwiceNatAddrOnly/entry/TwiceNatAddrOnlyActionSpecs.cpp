#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecs.h"

namespace BfTwiceNatAddrOnly {

Zin::TypeDescriptor const& TwiceNatAddrOnlyBaseActionSpec::type() {
   using C = TwiceNatAddrOnlyBaseActionSpec;
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<C>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyBaseActionSpec",
                            &Zin::ptrInterfaceType())
           .creatable()
           .field("actionType", &C::actionType, &C::actionTypeIs)
           .field("frag", &C::frag, &C::fragIs)
           .field("keyId", &C::keyId, &C::keyIdIs)
           .field("prot", &C::prot, &C::protIs)
           .field("rwId", &C::rwId, &C::rwIdIs)
           .done();
   return d;
}

Zin::TypeDescriptor const& OnMissActionSpec::type() {
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<OnMissActionSpec>("BfTwiceNatAddrOnly::OnMissActionSpec",
                                           &TwiceNatAddrOnlyBaseActionSpec::type())
           .creatable()
           .done();
   return d;
}

Zin::TypeDescriptor const& TwiceNatAddrOnlyHitActionSpec::type() {
   using C = TwiceNatAddrOnlyHitActionSpec;
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<C>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec",
                            &TwiceNatAddrOnlyBaseActionSpec::type())
           .creatable()
           .field("nextHop", &C::nextHop, &C::nextHopIs)
           .done();
   return d;
}

Zin::TypeDescriptor const& TwiceNatAddrOnlyHitEcmpActionSpec::type() {
   using C = TwiceNatAddrOnlyHitEcmpActionSpec;
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<C>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitEcmpActionSpec",
                            &TwiceNatAddrOnlyBaseActionSpec::type())
           .creatable()
           .field("ecmpGroup", &C::ecmpGroup, &C::ecmpGroupIs)
           .done();
   return d;
}

}  // namespace BfTwiceNatAddrOnly
