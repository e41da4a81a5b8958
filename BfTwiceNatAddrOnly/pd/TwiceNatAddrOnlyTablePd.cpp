#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"

namespace BfTwiceNatAddrOnly {

Zin::TypeDescriptor const& TwiceNatAddrOnlyTablePd::type() {
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<TwiceNatAddrOnlyTablePd>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd",
                                                  &TwiceNatAddrOnlyTable::type())
           .done();
   return d;
}

}  // namespace BfTwiceNatAddrOnly
