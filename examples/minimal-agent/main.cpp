// minimal-agent: the agent core over a simulated chip whose file and key table lie in a
// temporary folder (removed at the end). An entry is programmed and read back; the core is
// dropped and started again over the same chip and key table, and finds the entry; then the
// chip takes an entry that no key record names, as a kill between the chip's add and the
// record's write leaves it, and the next start adopts it.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "agent/core/AgentCore.h"
#include "agent/core/EntrySpecs.h"
#include "chip/Chip.h"
#include "chip/ChipInventory.h"
#include "chip/Devices.h"

using namespace TwiceNatAgent;

namespace {

struct TempFolder {
   TempFolder() {
      std::string pattern = (std::filesystem::temp_directory_path() / "minimal-agent-XXXXXX");
      if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make " + pattern);
      path = pattern;
   }
   ~TempFolder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
   }
   std::string path;
};

std::string text(EntrySpec const& e) {
   ActionValues const& a = e.action;
   return keyText(e.match) + ": " + std::string(p4ActionName(a.kind)) + " keyId=" +
          std::to_string(a.keyId) + " rwId=" + std::to_string(a.rwId) +
          " prot=" + std::to_string(a.prot) + " frag=" + std::to_string(a.frag) +
          " target=" + std::to_string(a.target);
}

// Reads `key` back through the core; false when the table does not hold it.
bool show(AgentCore const& core, char const* when, MatchKey const& key) {
   std::optional<EntryRow> const row = core.read(key);
   if (!row) {
      std::cout << when << ": no entry " << keyText(key) << "\n";
      return false;
   }
   std::cout << when << ": " << text(row->entry) << " (handle 0x" << std::hex << row->handle
             << std::dec << ")\n";
   return true;
}

int run(void* sdk) {
   TempFolder folder;
   std::string const chipPath = folder.path + "/chip";
   chip::Chip::create(chipPath, chip::Profile{});
   std::unique_ptr<chip::Chip> board = chip::Chip::open(chipPath);
   chip::ChipInventory const inventory(*board);
   AgentCore::Config config;
   config.keyTablePath = folder.path + "/keys";  // made at the first start
   config.sdkLibrary = sdk;
   config.sdkLibraryPath = TWICENAT_SDK_LIBRARY;
   config.inventory = &inventory;
   chip::attach(config.device, *board);

   EntrySpec const entry{{0x0A000001, 0xC0A80101, 1, true},  // 10.0.0.1 -> 192.168.1.1, VRF 1
                         {ActionKind::hit, 100, 200, 6, 0, 7}};
   bool ok = true;
   {
      std::unique_ptr<AgentCore> core = AgentCore::start(config);
      Programmed const done = core->program(entry);
      if (!done.status.ok()) throw std::runtime_error(done.status.message);
      std::cout << "programmed: " << text(entry) << "\n";
      ok = show(*core, "read back", entry.match) && ok;
   }
   {
      // A restart: the key table and the chip are all the new core starts from.
      std::unique_ptr<AgentCore> core = AgentCore::start(config);
      ok = show(*core, "after a restart", entry.match) && ok;
      ok = core->count() == 1 && !core->startReport().reconciledAnything() && ok;
   }

   // The chip takes an entry behind the agent's back: no key record names it.
   MatchKey const orphan{0x0A000002, 0xC0A80101, 1, true};
   chip::ActionRec act;
   act.action = chip::Action::hitEcmp;
   act.params[0] = 101, act.params[1] = 201, act.params[2] = 17, act.params[4] = 3;
   U32 handle = 0;
   if (board->entryAdd({chip::kAllPipes, orphan.vrf, orphan.dip, orphan.sip}, act, &handle) != 0)
      throw std::runtime_error("the chip refused the entry");
   {
      std::unique_ptr<AgentCore> core = AgentCore::start(config);
      for (std::string const& note : core->startReport().notes)
         std::cout << note << "\n";
      ok = show(*core, "adopted", orphan) && show(*core, "still there", entry.match) && ok;
      ok = core->startReport().adopted == 1 && core->count() == 2 && ok;
   }
   std::cout << (ok ? "the restarts found every entry the chip holds" : "MISMATCH") << "\n";
   board.reset();  // detaches the device
   return ok ? 0 : 1;
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
