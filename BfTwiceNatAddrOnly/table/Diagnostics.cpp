#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {

Zin::TraceFacility& trace() {
   static Zin::TraceFacility& facility = Zin::traceFacility(kTraceFacility);
   return facility;
}

}  // namespace BfTwiceNatAddrOnly
