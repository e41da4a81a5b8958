#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"

#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {

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
           .field("l3InfoVrfId", &C::l3InfoVrfId, &C::l3InfoVrfIdIs)
           .field("isSet", &C::isSet, &C::isSetIs)
           .field("l3InfoVrfIdIsSet", &C::l3InfoVrfIdIsSet, &C::l3InfoVrfIdIsSetIs)
           .done();
   return d;
}

}  // namespace BfTwiceNatAddrOnly
