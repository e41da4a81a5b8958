// Fuzzes the key table's open of a damaged file. The input is either a whole file (first byte
// even) or byte patches onto a valid small table (odd: then triples of offset low, offset
// high, xor mask). Each file is opened read-only and writable; an open either refuses with
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

#include "agent/KeyManager.h"
#include "agent/KeyTable.h"

namespace {

using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableAccess;

std::string& folder() {
   static std::string dir;
   return dir;
}

std::string tablePath() {
   return folder() + "/keys";
}

std::vector<char>& base() {
   static std::vector<char> bytes;
   return bytes;
}

[[noreturn]] void fail(char const* what, std::string const& detail) {
   std::fprintf(stderr, "key_table_fuzzer: %s: %s\n", what, detail.c_str());
   std::abort();
}

void removeFolder() {
   std::error_code ec;
   if (!folder().empty()) std::filesystem::remove_all(folder(), ec);
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
   std::string tmpl = (std::filesystem::temp_directory_path() / "keysfuzz-XXXXXX").string();
   if (!::mkdtemp(tmpl.data())) fail("no temporary folder", tmpl);
   folder() = tmpl;
   std::atexit(removeFolder);
   {
      auto t = KeyTable::create(tablePath(), 8, 0x5eed);
      for (U64 key : {1, 2, 5, 8})
         t->recordIs(
             KeyTable::EntryConfig(key, 0, U32(key * 16), key == 8 ? 1 : 0, t->generationIs()));
   }
   std::ifstream in(tablePath(), std::ios::binary);
   base().assign(std::istreambuf_iterator<char>(in), {});
   return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::vector<char> file;
   if (size > 0 && (data[0] & 1)) {
      file = base();
      for (std::size_t i = 1; i + 2 < size; i += 3)
         file[(data[i] | size_t(data[i + 1]) << 8) % file.size()] ^= char(data[i + 2]);
   } else if (size > 0) {
      file.assign(data + 1, data + size);
   }
   std::string const path = tablePath();
   std::ofstream(path, std::ios::binary | std::ios::trunc).write(file.data(), file.size());
   for (auto access : {KeyTableAccess::readOnly, KeyTableAccess::readWrite}) {
      try {
         auto t = KeyTable::open(path, access);
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
