// A program that links twicenat::BfTwiceNatAddrOnly and nothing else. It builds an entry, prints
// its text form and parses it back, and then creates the table on a device that no chip serves:
// the creation function loads the SDK library through the PD interface object that comes with
// the table library, and the SDK refuses the device with a table exception.
//
//   table-consumer [SDK library]   (default: the SDK library named at build time)
#include <dlfcn.h>

#include <cstdio>
#include <exception>
#include <sstream>
#include <string>

#include "../SdkLibraryArgument.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecs.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"
#include "BfTwiceNatAddrOnly/table/TableExceptions.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"

using namespace BfTwiceNatAddrOnly;

namespace {

constexpr U8 kUnservedDevice = 7;

bool textRoundTrip() {
   auto match = twiceNatAddrOnlyMatchSpecFactory();
   match->outerIpv4HdrDipIs(0x0A000001);  // 10.0.0.1
   match->outerIpv4HdrSipIs(0xC0A80101);  // 192.168.1.1
   auto ecmp = twiceNatAddrOnlyHitEcmpActionSpecFactory();
   ecmp->keyIdIs(100);
   ecmp->ecmpGroupIs(3);
   TwiceNatAddrOnlyTableEntry entry(match);
   entry.actionIs(ecmp);
   std::ostringstream text, again;
   text << entry;
   again << Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(text.str());
   std::printf("entry: %s\n", text.str().c_str());
   return again.str() == text.str();
}

// True when the SDK refused the device with a table exception.
bool refusedOnUnservedDevice(char const* sdkPath) {
   void* sdk = ::dlopen(sdkPath, RTLD_NOW);
   if (!sdk) {
      std::fprintf(stderr, "table-consumer: %s\n", ::dlerror());
      return false;
   }
   bool refused = false;
   try {
      twiceNatAddrOnlyTableFactory(nullptr, nullptr, sdk, 1, kUnservedDevice, 0xFFFF, sdkPath);
      std::fprintf(stderr, "table-consumer: device %u took a table\n", kUnservedDevice);
   } catch (BfTable::BfTableException const& e) {
      std::printf("device %u refused: %s\n", kUnservedDevice, e.what());
      refused = true;
   }
   ::dlclose(sdk);
   return refused;
}

}  // namespace

int main(int argc, char** argv) {
   char const* sdkPath = sdkLibraryArgument(argc, argv);
   if (!sdkPath) return 2;
   try {
      if (!textRoundTrip()) {
         std::fprintf(stderr, "table-consumer: the text form did not parse back the same\n");
         return 1;
      }
      return refusedOnUnservedDevice(sdkPath) ? 0 : 1;
   } catch (std::exception const& e) {
      std::fprintf(stderr, "table-consumer: %s\n", e.what());
      return 1;
   }
}
