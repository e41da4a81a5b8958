#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"

namespace BfTwiceNatAddrOnly {

Zin::TypeDescriptor const& TwiceNatAddrOnlyTableBfrt::type() {
   static Zin::TypeDescriptor const& d =
       Zin::ClassBuilder<TwiceNatAddrOnlyTableBfrt>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt",
                                                    &TwiceNatAddrOnlyTable::type())
           .done();
   return d;
}

}  // namespace BfTwiceNatAddrOnly
