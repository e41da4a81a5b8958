#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"

#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {

// The runtime's slab has blocks in steps of 16 bytes: the hook fits beside the attributes.
static_assert(sizeof(TwiceNatAddrOnlyMatchSpec) == 32);

void TwiceNatAddrOnlyMatchSpec::isSetIs(U64) {
   Zin::assertFail("0", kSourceName, __LINE__,
                   "void BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::isSetIs(U64)");
}

void TwiceNatAddrOnlyMatchSpec::l3InfoVrfIdIsSetIs(bool) {
   Zin::assertFail("0", kSourceName, __LINE__,
                   "void BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::l3InfoVrfIdIsSetIs(bool)");
}

Zin::TypeDescriptor const& TwiceNatAddrOnlyMatchSpec::type() {
   using C = TwiceNatAddrOnlyMatchSpec;
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<C>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec",
                            &BfnTable::MatchSpecBase::type())
           .creatable()
           .field("outerIpv4HdrDip", &C::outerIpv4HdrDip, &C::outerIpv4HdrDipIs)
           .field("outerIpv4HdrSip", &C::outerIpv4HdrSip, &C::outerIpv4HdrSipIs)
           // A VRF never given stays out of the text form, so that parsing the text sets it
           // only when it was given; the two marks are then checked rather than set.
           .field("l3InfoVrfId", &C::l3InfoVrfId, &C::l3InfoVrfIdIs)
           .givenWhen(&C::l3InfoVrfIdIsSet)
           .field("isSet", &C::isSet, &C::isSetIs)
           .derived()
           .field("l3InfoVrfIdIsSet", &C::l3InfoVrfIdIsSet, &C::l3InfoVrfIdIsSetIs)
           .derived()
           .done();
   return d;
}

}  // namespace BfTwiceNatAddrOnly
