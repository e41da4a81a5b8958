// A table created over a key table and a chip that an earlier table object, or an earlier
// process, of either back end programmed: what the creation finds again, and how it copes with
// damage.
#include <fcntl.h>
#include <sys/wait.h>

#include <cstddef>

#include "agent/KeyTableMap.h"
#include "support/TableChecks.h"

namespace tabletest {
namespace {

// What the producer programs, in order; key k is the k-th. Dip 0: the table's default entry.
std::pair<U32, unsigned> const kProgrammed[] = {{11, 1}, {0, 2}, {12, 0}, {13, 2}};
constexpr U64 kRecords = std::size(kProgrammed);

std::string expected(U64 key) {
   auto const [dip, t] = kProgrammed[key - 1];
   return describe(matchOf(dip, dip ? dip + 1 : 0, dip % 7),
                   actionOf(actionType(t), U16(key), 3, 6, 1, U16(100 + key)));
}

// Programs kProgrammed through a table of its own, in this process or another, and records
// each handle as the agent does; the handles as the key table then holds them.
std::vector<Hdl> produce(Files const& files, bool forked = false) {
   pid_t const pid = forked ? ::fork() : 0;
   if (pid == 0) {
      try {
         Rig rig(files.over());
         for (U64 key = 1; key <= kRecords; ++key) {
            auto const [dip, t] = kProgrammed[key - 1];
            MatchC const m = dip ? matchOf(dip, dip + 1, dip % 7) : rig.dflt();
            rig.program(m, actionOf(actionType(t), U16(key), 3, 6, 1, U16(100 + key)));
            if (rig.keys->keyOf(m.ptr()) != key) throw std::runtime_error("unexpected key");
            rig.keys->recordHandleIs(key, rig.handles().entry(m));
         }
      } catch (...) {
         if (forked) ::_exit(1);
         throw;
      }
      if (forked) ::_exit(0);
   } else {
      int status = 0;
      EXPECT_EQ(::waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
   }
   std::vector<Hdl> handles;
   auto keys = TwiceNatAgent::KeyTable::open(files.keys);
   for (U64 key = 1; key <= kRecords; ++key)
      handles.push_back(keys->record(key).sdkEntryHandle);
   return handles;
}

// Turns the chip file's BfRt runtime on or off, so that the next table has the other back end.
void bfrtIs(std::string const& path, bool on) {
   chip::Profile p = chip::Chip::open(path, chip::ChipAccess::readOnly)->profile();
   p.bfrt = on;
   chip::Chip::profileFlagsIs(path, p);
}

TEST(PdResync, FindsWhatAnEarlierTableOrProcessOfEitherBackEndProgrammed) {
   struct {
      bool forked, producerBfrt, bfrt;
   } const cases[] = {{false, false, false},
                      {true, false, false},
                      {false, false, true},
                      {false, true, false},
                      {false, true, true}};
   // All a binding and a readback of either back end may call: nothing that writes an entry.
   std::string const reads =
       " get_entry optional_fields set_property bfrtTableFromNameGet sessionCreate tableTypeGet "
       "keyFieldIdGet dataFieldIdGet actionIdGet keyAllocate keyReset dataAllocate dataReset "
       "devTargetSet attributeAllocate attributes.entryScopeParamsSet tableAttributesSet "
       "tableEntryGet data.actionIdGet key.getValue data.getValue ";
   for (auto const& k : cases) {
      SCOPED_TRACE(testing::Message() << k.forked << k.producerBfrt << k.bfrt);
      Files files({.bfrt = k.producerBfrt}, 16);
      std::vector<Hdl> const handles = produce(files, k.forked);
      ASSERT_EQ(handles.size(), kRecords);
      bfrtIs(files.chip, k.bfrt);

      Rig c(files.over(false));
      U32 const chipEntries = c.chip->count();
      c.create();
      EXPECT_EQ(c.ops(), (V{"populate 1 new", "populate 2 new", "populate 3 new", "populate 4 new",
                            "highestKeyIs 4", "resyncStatus"}));
      EXPECT_EQ(c.keys->highestKey(), kRecords);
      EXPECT_EQ(c.handles().entries(), kRecords);
      // Creation reads the chip and writes nothing to it.
      for (auto const& call : chip::journal()) {
         std::string const n = call.name.substr(call.name.starts_with(pd("")) ? pd("").size() : 0);
         EXPECT_NE(reads.find(" " + n + " "), std::string::npos) << call.toString();
      }
      EXPECT_EQ(chip::journalCalls(k.bfrt ? "tableEntryGet" : pd("get_entry")).size(), kRecords);
      EXPECT_EQ(c.chip->count(), chipEntries);

      // Every populated match spec finds its entry; an equal-valued new object does not.
      for (U64 key = 1; key <= kRecords; ++key) {
         SCOPED_TRACE(key);
         auto const m = Pemra::ptr_cast<TwiceNatAddrOnlyMatchSpec const>(c.keys->matchOf(key));
         ASSERT_TRUE(m);
         EXPECT_EQ(c.handles().entry(m), handles[key - 1]);
         EXPECT_EQ(describe(c.table->entry(m)), expected(key));
         EXPECT_TRUE(
             c.table->entry(matchOf(m->outerIpv4HdrDip(), m->outerIpv4HdrSip(), m->l3InfoVrfId()))
                 .empty());
      }
   }
}

TEST(PdResync, DamagedOrStaleRecordsAndFailingReadbacks) {
   struct Case {
      char const* name;
      std::function<void(Files const&, std::vector<Hdl> const&)> damage;
      V ops;        // the key and status manager calls of the creation
      U64 handles;  // pairs in the handle map afterwards
      U64 repairs;  // corruptions handed to the map
   };
   // Opening the key table clears the damage it finds, so record damage is done to an open
   // table: damage the resync's walk meets.
   auto flipRecord = [](U64 slot) {
      return [slot](Files const& f, std::vector<Hdl> const&) {
         FILE* file = std::fopen(f.keys.c_str(), "r+b");
         ASSERT_NE(file, nullptr);
         long const at = long(TwiceNatAgent::KeyTable::recordOffset(slot));
         std::fseek(file, at, SEEK_SET);
         int const b = std::fgetc(file);
         std::fseek(file, at, SEEK_SET);
         std::fputc(b ^ 0xFF, file);
         std::fclose(file);
      };
   };
   Case const cases[] = {
       {"first record damaged", flipRecord(0), {"resyncStatus"}, 0, 1},
       {"later record damaged",
        flipRecord(2),
        {"populate 1 new", "populate 2 new", "highestKeyIs 2", "resyncStatus"},
        2,
        1},
       // The chip lost the third entry: its handle is kept under the null match, the record is
       // still handed to the key manager, with no match, and the walk goes on.
       {"entry gone from the chip",
        [](Files const& f, std::vector<Hdl> const& h) {
           ASSERT_EQ(chip::Chip::open(f.chip)->entryDel(h[2]), 0);
        },
        {"populate 1 new", "populate 2 new", "populate 3 null", "populate 4 new", "highestKeyIs 4",
         "resyncStatus"},
        4,
        0},
   };
   for (Case const& k : cases) {
      SCOPED_TRACE(k.name);
      Files files(kPdChip, 16);
      std::vector<Hdl> const handles = produce(files);
      bool const onOpenTable = k.repairs != 0;
      if (!onOpenTable) k.damage(files, handles);
      Rig c(files.over(false));
      if (onOpenTable) k.damage(files, handles);
      c.create();
      EXPECT_EQ(c.ops(), k.ops);
      EXPECT_EQ(c.handles().entries(), k.handles);
      EXPECT_EQ(c.keys->tableMap().repairs(), k.repairs);
      if (k.repairs == 0) {
         EXPECT_EQ(c.handles().entry(nullptr), handles[2]);
         EXPECT_FALSE(c.keys->matchOf(3));
      }
   }
}

TEST(PdResync, AReadbackThatThrowsEndsTheCreation) {
   Files files({}, 16);
   produce(files);
   Rig c(files.over(false));
   // Of the BfRt readback's calls, a failing one other than the entry's own read throws.
   chip::faultIs("data.actionIdGet", 3, 2);
   EXPECT_THROW(c.create(), BfTable::BfTableException);
   EXPECT_EQ(c.ops(), V{"populate 1 new"});
   // The test main checks that the failed creation left no object behind.
}

}  // namespace
}  // namespace tabletest
