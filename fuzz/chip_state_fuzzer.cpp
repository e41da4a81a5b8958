// Fuzzes the chip's open of a damaged state file. The input is either a whole file (first byte
// even) or byte patches onto a valid small state (odd: then triples of offset low, offset high,
// xor mask). Each file is opened read-only and writable, as a start and as a repair; an open
// either refuses with ChipStateRefused or yields a chip on which entry operations, reads and a
// reopen work, without the entries it quarantined. Anything else (a crash, a hang, another
// exception, a reopen that finds damage) aborts.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "StateFileInput.h"
#include "chip/Chip.h"
#include "chip/ChipException.h"

namespace {

using fuzzing::fail;
using fuzzing::folder;

std::string statePath() {
   return folder() + "/chip";
}

void exercise(chip::Chip& c) {
   uint16_t pipe = c.scope() == chip::Scope::allPipes ? chip::kAllPipes : 0;
   chip::ActionRec act;
   act.action = chip::Action::hit;
   uint32_t h = 0;
   for (uint32_t i = 0; i < 3; ++i) {
      chip::Status st = c.entryAdd(chip::Key{pipe, 1, i, i}, act, &h);
      if (st == 0 && (c.entryMod(h, act) != 0 || (i == 1 && c.entryDel(h) != 0))) {
         fail("an entry just added cannot be changed", std::to_string(h));
      }
   }
   c.defaultSet(pipe, act, &h);
   for (auto const& e : c.entries(pipe)) {
      chip::EntryView v;
      if (c.entryGet(e.handle, &v) != 0)
         fail("a listed entry cannot be read", std::to_string(e.handle));
   }
}

// A quarantined entry's slot no longer holds it.
void checkQuarantine(chip::Chip const& c) {
   for (chip::QuarantinedEntry const& q : c.quarantined()) {
      if (!q.isDefault && c.entrySlot(q.handle) == q.index)
         fail("a quarantined entry serves", std::to_string(q.handle));
   }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
   fuzzing::folderIs("chipfuzz");
   chip::Profile p;
   p.capacity = 4;
   p.pipes = 2;
   {
      auto c = chip::Chip::create(statePath(), p);
      uint32_t h[3];
      c->scopeIs(1);
      for (uint16_t i = 0; i < 3; ++i) {
         chip::ActionRec a;
         a.action = chip::Action::hit;
         a.params[0] = i;
         c->entryAdd(chip::Key{uint16_t(i % 2), 1, i, i}, a, &h[i]);
      }
      c->entryDel(h[1]);
      c->defaultSet(1, chip::ActionRec{}, &h[1]);
   }
   fuzzing::baseIs(statePath());
   return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::string const path = statePath();
   for (int run = 0; run < 4; ++run) {
      // Read-only then writable, as a start and then as a repair, each pair on the input.
      auto const access = run % 2 ? chip::ChipAccess::readWrite : chip::ChipAccess::readOnly;
      auto const repair = run < 2 ? chip::ChipRepair::usual : chip::ChipRepair::header;
      if (run % 2 == 0) fuzzing::writeInput(path, data, size);
      try {
         auto c = chip::Chip::open(path, access, repair);
         checkQuarantine(*c);
         if (access == chip::ChipAccess::readWrite) {
            exercise(*c);
            c.reset();
            c = chip::Chip::open(path);
            if (!c->openNotes().empty())
               fail("a repaired state needs repair again", c->openNotes()[0]);
            exercise(*c);
         } else {
            c->entries(chip::kAllPipes);
         }
      } catch (chip::ChipStateRefused const&) {
      } catch (std::exception const& e) {
         fail("unexpected exception", e.what());
      }
   }
   return 0;
}
