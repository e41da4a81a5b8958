// Registers the module's types with the runtime's type registry when the library is loaded.
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {

// Before the registration below, which is the first of the module's code to run.
Zin::TraceFacility& gTrace = Zin::traceFacility(kTraceFacility);

namespace {

struct Module {
   Module() {
      Zin::TypeRegistry::instance().moduleIs(
          "BfTwiceNatAddrOnly",
          {&BfnTable::MatchSpecBase::type(), &twiceNatAddrOnlyActionSpecTypeType(),
           &TwiceNatAddrOnlyMatchSpec::type(), &TwiceNatAddrOnlyBaseActionSpec::type(),
           &OnMissActionSpec::type(), &TwiceNatAddrOnlyHitActionSpec::type(),
           &TwiceNatAddrOnlyHitEcmpActionSpec::type(), &twiceNatAddrOnlyTableEntryType(),
           &TwiceNatAddrOnlyTableHandles::type(), &TwiceNatAddrOnlyTableHelper::type(),
           &TwiceNatAddrOnlyTable::type(), &TwiceNatAddrOnlyTablePd::type(),
           &TwiceNatAddrOnlyTableBfrt::type()});
   }
} const module;

}  // namespace
}  // namespace BfTwiceNatAddrOnly
