// A table created over a key table and a chip that an earlier table object of either back end
// programmed: what the creation finds again, and how it copes with damage.
#include <cstddef>
#include <fstream>
#include <iterator>

#include "agent/KeyTableMap.h"
#include "support/TableRig.h"

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

// Programs kProgrammed through a table of its own and records each handle as the agent does.
std::vector<Hdl> produce(Files const& files) {
   Rig rig(files.over());
   std::vector<Hdl> handles;
   for (U64 key = 1; key <= kRecords; ++key) {
      auto const [dip, t] = kProgrammed[key - 1];
      MatchC const m = dip ? matchOf(dip, dip + 1, dip % 7) : rig.dflt();
      rig.program(m, actionOf(actionType(t), U16(key), 3, 6, 1, U16(100 + key)));
      EXPECT_EQ(rig.keys->keyOf(m.ptr()), key);
      rig.keys->recordHandleIs(key, handles.emplace_back(rig.handles().entry(m)));
   }
   return handles;
}

std::string fileText(std::string const& path) {
   std::ifstream in(path, std::ios::binary);
   return {std::istreambuf_iterator<char>(in), {}};
}

// Across processes, the agent's restarts show the same; here, the calls the creation makes.
TEST(Resync, FindsWhatAnEarlierTableOfEitherBackEndProgrammed) {
   for (int k = 0; k < 4; ++k) {
      bool const producerBfrt = k & 1, bfrt = k & 2;
      SCOPED_TRACE(testing::Message() << "from bfrt " << producerBfrt << " to " << bfrt);
      Files files({.bfrt = producerBfrt}, 16);
      std::vector<Hdl> const handles = produce(files);
      // The chip file's BfRt runtime on or off, so that the next table has either back end.
      chip::Profile p = chip::Chip::open(files.chip, chip::ChipAccess::readOnly)->profile();
      p.bfrt = bfrt;
      chip::Chip::profileFlagsIs(files.chip, p);

      Rig c(files.over(false));
      std::string const chipBefore = fileText(files.chip);
      c.create();
      EXPECT_EQ(c.ops(), (V{"populate 1 new", "populate 2 new", "populate 3 new", "populate 4 new",
                            "highestKeyIs 4", "resyncStatus"}));
      EXPECT_EQ(c.keys->highestKey(), kRecords);
      EXPECT_EQ(c.handles().entries(), kRecords);
      // Creation reads each entry back and changes nothing in the chip.
      EXPECT_EQ(chip::journalCalls(bfrt ? "tableEntryGet" : pd("get_entry")).size(), kRecords);
      EXPECT_TRUE(fileText(files.chip) == chipBefore);

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

TEST(Resync, ADamagedRecordEndsTheWalkAndAnEntryGoneFromTheChipKeepsItsHandle) {
   {
      Files files(kPdChip, 16);
      produce(files);
      Rig c(files.over(false));
      // Opening the key table clears the damage it finds, so the third record is damaged under
      // the open table: damage the resync's walk meets.
      std::fstream f(files.keys, std::ios::in | std::ios::out | std::ios::binary);
      auto const at = std::streamoff(TwiceNatAgent::KeyTable::recordOffset(2));
      char const b = char(f.seekg(at).get());
      f.seekp(at).put(char(b ^ 0xFF)).flush();
      c.create();
      EXPECT_EQ(c.ops(), (V{"populate 1 new", "populate 2 new", "highestKeyIs 2", "resyncStatus"}));
      EXPECT_EQ(c.handles().entries(), 2u);
      EXPECT_EQ(c.keys->tableMap().repairs(), 1u);
   }
   // The chip lost the third entry: its handle is kept under the null match, the record is still
   // handed to the key manager, with no match, and the walk goes on.
   Files files(kPdChip, 16);
   std::vector<Hdl> const handles = produce(files);
   ASSERT_EQ(chip::Chip::open(files.chip)->entryDel(handles[2]), 0);
   Rig c(files.over(false));
   c.create();
   EXPECT_EQ(c.ops(), (V{"populate 1 new", "populate 2 new", "populate 3 null", "populate 4 new",
                         "highestKeyIs 4", "resyncStatus"}));
   EXPECT_EQ(c.handles().entries(), 4u);
   EXPECT_EQ(c.handles().entry(nullptr), handles[2]);
   EXPECT_FALSE(c.keys->matchOf(3));
}

TEST(Resync, AReadbackThatThrowsEndsTheCreation) {
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
