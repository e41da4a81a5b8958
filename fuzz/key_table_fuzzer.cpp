// Fuzzes the key table's open of a damaged file. The input is either a whole file (first byte
// even) or byte patches onto a valid small table (odd: then triples of offset low, offset
// high, xor mask). Each file is opened read-only and writable, as a start and as a repair (which
// also restores a damaged magic number); an open either refuses with
// KeyTableRefused or yields a table whose records all check, whose counts match them, and on
// which key allocation, record writes, removals and a reopen without repairs work. Anything
// else (a crash, a hang, another exception) aborts.
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
#include "agent/KeyManager.h"
#include "agent/KeyTable.h"

namespace {

using fuzzing::fail;
using fuzzing::folder;

using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableAccess;

std::string tablePath() {
   return folder() + "/keys";
}

// Every record left checks, and the header's counts are what the records say.
void check(KeyTable const& t) {
   U64 records = 0, highest = 0;
   for (U64 s = t.nextTakenSlot(0); s < t.capacity(); s = t.nextTakenSlot(s + 1)) {
      if (t.slotState(s) != KeyTable::SlotState::used) fail("open left damage", t.damageText(s));
      ++records;
      highest = s + 1;
   }
   if (records != t.count() || highest != t.highestKey()) {
      fail("counts disagree with the records", std::to_string(t.count()));
   }
}

void exercise(std::unique_ptr<KeyTable> table) {
   auto km = TwiceNatAgent::KeyManager::keyManagerIs(std::move(table));
   std::vector<U64> keys;
   for (int i = 0; i < 3 && km->size() < km->capacity(); ++i) {
      U64 const key = km->alloc(nullptr, i == 1);
      km->recordHandleIs(key, U32(0x100 + i));
      keys.push_back(key);
   }
   km->recordHandleIs(keys.front(), 0x777);
   km->free(keys.back());
   check(km->table());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
   fuzzing::folderIs("keysfuzz");
   {
      auto t = KeyTable::create(tablePath(), 8, 0x5eed);
      for (U64 key : {1, 2, 5, 8})
         t->recordIs(
             KeyTable::EntryConfig(key, 0, U32(key * 16), key == 8 ? 1 : 0, t->generationIs()));
   }
   fuzzing::baseIs(tablePath());
   return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::string const path = tablePath();
   for (int run = 0; run < 4; ++run) {
      // Read-only then writable, as a start and then as a repair, each pair on the input.
      auto const access = run % 2 ? KeyTableAccess::readWrite : KeyTableAccess::readOnly;
      auto const repair =
          run < 2 ? TwiceNatAgent::KeyTableRepair::usual : TwiceNatAgent::KeyTableRepair::header;
      if (run % 2 == 0) fuzzing::writeInput(path, data, size);
      try {
         auto t = KeyTable::open(path, access, repair);
         check(*t);
         if (access == KeyTableAccess::readWrite) {
            exercise(std::move(t));
            auto again = KeyTable::open(path);
            if (!again->openNotes().empty())
               fail("a repaired table needs repair again", again->openNotes()[0]);
            check(*again);
         }
      } catch (TwiceNatAgent::KeyTableRefused const&) {
      } catch (TwiceNatAgent::KeyTableError const& e) {
         // A table too small for three more keys reports that it is full; nothing else.
         if (e.msg().find("is full") == std::string::npos) fail("unexpected error", e.msg());
      } catch (std::exception const& e) {
         fail("unexpected exception", e.what());
      }
   }
   return 0;
}
