// minimal-agent: one entry into the twiceNatAddrOnly table of a private simulated chip, and
// back out of it.
#include <dlfcn.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecs.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "chip/Chip.h"
#include "chip/Devices.h"

using namespace BfTwiceNatAddrOnly;

namespace {

constexpr U8 kDevice = 0;
constexpr U16 kAllPipes = 0xFFFF;
constexpr U32 kSession = 1;

int run(void* sdk) {
   // A chip of this process only, attached as the device the table programs.
   std::unique_ptr<chip::Chip> board = chip::Chip::createPrivate(chip::Profile{});
   chip::attach(kDevice, *board);

   // No key table or status manager: a table that starts empty and reports nowhere.
   TwiceNatAddrOnlyTable::Ptr table = twiceNatAddrOnlyTableFactory(
       nullptr, nullptr, sdk, kSession, kDevice, kAllPipes, TWICENAT_SDK_LIBRARY);

   auto match = twiceNatAddrOnlyMatchSpecFactory();
   match->outerIpv4HdrDipIs(0x0A000001);  // 10.0.0.1
   match->outerIpv4HdrSipIs(0xC0A80101);  // 192.168.1.1
   match->l3InfoVrfIdIs(1);
   auto hit = twiceNatAddrOnlyHitActionSpecFactory();
   hit->keyIdIs(100);
   hit->rwIdIs(200);
   hit->protIs(6);
   hit->nextHopIs(7);
   TwiceNatAddrOnlyTableEntry entry(match);
   entry.actionIs(hit);
   table->entryIs(entry);

   // Read from the chip through the table's back end, not from the library's own records.
   std::ostringstream programmed, readBack;
   programmed << entry;
   readBack << table->entry(match);
   std::cout << "programmed: " << programmed.str() << "\n";
   std::cout << "read back:  " << readBack.str() << "\n";
   bool same = readBack.str() == programmed.str();
   std::cout << (same ? "the chip holds the entry as programmed" : "MISMATCH") << "\n";

   table = nullptr;
   board.reset();  // detaches the device
   return same ? 0 : 1;
}

}  // namespace

int main() {
   void* sdk = ::dlopen(TWICENAT_SDK_LIBRARY, RTLD_NOW);
   if (!sdk) {
      std::fprintf(stderr, "minimal-agent: %s\n", ::dlerror());
      return 1;
   }
   int status = 1;
   try {
      status = run(sdk);
   } catch (std::exception const& e) {
      std::fprintf(stderr, "minimal-agent: %s\n", e.what());
   }
   ::dlclose(sdk);
   return status;
}
