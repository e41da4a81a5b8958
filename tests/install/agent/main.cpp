// A program that links the agent's services and the simulated chip: it programs an entry with a
// key table in a scratch folder, drops the table and its services as a restart would, and
// creates the table again over the same key table, whose resync finds the entry on the chip.
//
//   agent-consumer [SDK library]   (default: the SDK library named at build time)
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "../SdkLibraryArgument.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecs.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHelper.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "chip/Chip.h"
#include "chip/Devices.h"

using namespace BfTwiceNatAddrOnly;

namespace {

constexpr U8 kDevice = 0;
constexpr U16 kAllPipes = 0xFFFF;
constexpr U32 kSession = 1;

struct Agent {
   TwiceNatAgent::KeyManager::Ptr keys;
   TwiceNatAddrOnlyTable::Ptr table;
};

Agent start(std::unique_ptr<TwiceNatAgent::KeyTable> keyTable, void* sdk, char const* sdkPath) {
   Agent a;
   a.keys = TwiceNatAgent::KeyManager::keyManagerIs(std::move(keyTable));
   auto statuses = TwiceNatAgent::StatusManager::statusManagerIs(a.keys);
   a.table =
       twiceNatAddrOnlyTableFactory(a.keys, statuses, sdk, kSession, kDevice, kAllPipes, sdkPath);
   return a;
}

std::string text(TwiceNatAddrOnlyTableEntry const& entry) {
   std::ostringstream s;
   s << entry;
   return s.str();
}

int run(void* sdk, char const* sdkPath, std::string const& keyTablePath) {
   std::unique_ptr<chip::Chip> board = chip::Chip::createPrivate(chip::Profile{});
   chip::attach(kDevice, *board);

   Agent first = start(TwiceNatAgent::KeyTable::create(keyTablePath, 64), sdk, sdkPath);
   auto match = twiceNatAddrOnlyMatchSpecFactory();
   match->outerIpv4HdrDipIs(0x0A000001);  // 10.0.0.1
   match->outerIpv4HdrSipIs(0xC0A80101);  // 192.168.1.1
   match->l3InfoVrfIdIs(1);
   auto hit = twiceNatAddrOnlyHitActionSpecFactory();
   hit->keyIdIs(100);
   hit->nextHopIs(7);
   TwiceNatAddrOnlyTableEntry entry(match);
   entry.actionIs(hit);
   first.table->entryIs(entry);
   // The agent's part of a programming: the key's record, once the chip holds the entry.
   U64 const key = first.keys->keyOf(match.ptr());
   first.keys->recordHandleIs(key, first.table->helper()->sdkHandles()->entry(match));
   std::string const programmed = text(first.table->entry(match));
   first = Agent{};

   Agent again = start(TwiceNatAgent::KeyTable::open(keyTablePath), sdk, sdkPath);
   auto found = Pemra::dynamic_ptr_cast<TwiceNatAddrOnlyMatchSpec const>(again.keys->matchOf(key));
   std::string const resynced = found ? text(again.table->entry(found)) : "nothing";
   std::printf("programmed: %s\nresynced:   %s\n", programmed.c_str(), resynced.c_str());
   again = Agent{};
   board.reset();
   return resynced == programmed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
   char const* sdkPath = sdkLibraryArgument(argc, argv);
   if (!sdkPath) return 2;
   void* sdk = ::dlopen(sdkPath, RTLD_NOW);
   if (!sdk) {
      std::fprintf(stderr, "agent-consumer: %s\n", ::dlerror());
      return 1;
   }
   std::string folder = (std::filesystem::temp_directory_path() / "agent-consumer-XXXXXX").string();
   int status = 1;
   if (!::mkdtemp(folder.data())) {
      std::perror("agent-consumer: mkdtemp");
   } else {
      try {
         status = run(sdk, sdkPath, folder + "/keys");
      } catch (std::exception const& e) {
         std::fprintf(stderr, "agent-consumer: %s\n", e.what());
      }
      std::filesystem::remove_all(folder);
   }
   ::dlclose(sdk);
   return status;
}
