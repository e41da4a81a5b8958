// A table created over a key table and a chip that an earlier table object, or an earlier
// process, programmed: what the creation finds again, and how it copes with damage.
#include <sys/wait.h>

#include "BfTwiceNatAddrOnly/table/Resync.h"
#include "PdRig.h"
#include "agent/KeyTableMap.h"

namespace pdtest {
namespace {

// What the producer programs, in order; key k is the k-th (keys are handed out lowest first).
struct Programmed {
   int dip;  // 0: the table's default entry
   TwiceNatAddrOnlyActionSpecType type;
};
Programmed const kProgrammed[] = {{11, twiceNatAddrOnlyHitActionSpec},
                                  {0, twiceNatAddrOnlyHitEcmpActionSpec},
                                  {12, onMissActionSpec},
                                  {13, twiceNatAddrOnlyHitEcmpActionSpec}};
constexpr U64 kRecords = std::size(kProgrammed);

TwiceNatAddrOnlyTableEntry expectedEntry(U64 key) {
   Programmed const& p = kProgrammed[key - 1];
   TwiceNatAddrOnlyTableEntry e(p.dip ? matchSpec(U32(p.dip), U32(p.dip) + 1, p.dip % 7)
                                      : matchSpec(0, 0, 0));
   e.actionIs(actionSpec(p.type, U16(key)));
   return e;
}

// The chip and the key table as files, so that another process can work on them.
struct Files {
   Files() : chip(scratchPath("chip")), keys(scratchPath("keys")) {
      chip::Profile profile;
      profile.bfrt = false;
      chip::Chip::create(chip, profile);
      TwiceNatAgent::KeyTable::create(keys, 16);
   }
   ~Files() {
      chip::Chip::destroy(chip);
      TwiceNatAgent::KeyTable::destroy(keys);
   }
   std::string chip, keys;
};

// Programs kProgrammed through a table of its own and records each handle as the agent does.
std::vector<Hdl> produce(Files const& files) {
   Rig rig({.chipPath = files.chip, .keyPath = files.keys});
   std::vector<Hdl> handles;
   for (U64 key = 1; key <= kRecords; ++key) {
      TwiceNatAddrOnlyTableEntry e = expectedEntry(key);
      auto const match = kProgrammed[key - 1].dip ? e.match() : rig.defaultMatch();
      rig.program(match, e.action());
      handles.push_back(rig.handles().entry(match));
      if (rig.keys->keyOf(base(match)) != key) throw std::runtime_error("unexpected key");
      rig.keys->recordHandleIs(key, handles.back());
   }
   return handles;
}

std::vector<Hdl> produceInChild(Files const& files) {
   pid_t const pid = ::fork();
   if (pid == 0) {
      try {
         produce(files);
      } catch (...) {
         ::_exit(1);
      }
      ::_exit(0);
   }
   int status = 0;
   EXPECT_EQ(::waitpid(pid, &status, 0), pid);
   EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
   std::vector<Hdl> handles;
   auto keys = TwiceNatAgent::KeyTable::open(files.keys);
   for (U64 key = 1; key <= kRecords; ++key)
      handles.push_back(keys->record(key).sdkEntryHandle);
   return handles;
}

// A new agent process's view of the files, before the table is created.
RigOptions over(Files const& files) {
   return {.chipPath = files.chip, .keyPath = files.keys, .createTable = false};
}

TEST(PdResync, FindsWhatAnEarlierTableOrProcessProgrammed) {
   for (bool const forked : {false, true}) {
      SCOPED_TRACE(forked ? "earlier process" : "earlier table object");
      Files files;
      std::vector<Hdl> const handles = forked ? produceInChild(files) : produce(files);
      ASSERT_EQ(handles.size(), kRecords);
      TwiceNatAgent::KeyTable::open(files.keys)->highestKeyIs(1);

      Rig c(over(files));
      U32 const chipEntries = c.chip->count();
      c.create();
      auto const& table = c.table;
      std::vector<std::string> want;
      for (U64 key = 1; key <= kRecords; ++key)
         want.push_back("populate " + std::to_string(key));
      want.insert(want.end(), {"highestKeyIs 4", "resyncStatus 0"});
      EXPECT_EQ(c.ops(), want);
      EXPECT_EQ(c.keys->highestKey(), kRecords);
      EXPECT_EQ(table->helper()->sdkHandles()->entries(), kRecords);

      // Creation reads the chip and writes nothing to it.
      for (auto const& call : chip::journal()) {
         EXPECT_TRUE(call.name == pdName("get_entry") || call.name == pdName("optional_fields") ||
                     call.name == pdName("set_property"))
             << call.toString();
      }
      EXPECT_EQ(chip::journalCalls(pdName("get_entry")).size(), kRecords);
      EXPECT_EQ(c.chip->count(), chipEntries);

      // Every populated match spec finds its entry; an equal-valued new object does not.
      for (U64 key = 1; key <= kRecords; ++key) {
         SCOPED_TRACE(key);
         auto match = c.keys->matchOf(key);
         ASSERT_TRUE(match);
         auto spec = Pemra::ptr_cast<TwiceNatAddrOnlyMatchSpec const>(match);
         EXPECT_EQ(table->helper()->sdkHandles()->entry(spec), handles[key - 1]);
         EXPECT_EQ(describe(table->entry(spec)), describe(expectedEntry(key)));
         EXPECT_TRUE(table
                         ->entry(matchSpec(spec->outerIpv4HdrDip(), spec->outerIpv4HdrSip(),
                                           spec->l3InfoVrfId()))
                         .empty());
      }
   }
}

TEST(PdResync, DamagedOrStaleRecordsAndFailingReadbacks) {
   struct Case {
      char const* name;
      std::function<void(Files const&, std::vector<Hdl> const&)> damage;
      std::vector<std::string> ops;  // the key and status manager calls of the creation
      U64 handles;                   // pairs in the handle map afterwards
      U64 repairs;                   // corruptions handed to the map
   };
   auto flipRecord = [](U64 slot) {
      return [slot](Files const& f, std::vector<Hdl> const&) {
         std::string const path = f.keys;
         std::size_t const at = TwiceNatAgent::KeyTable::recordOffset(slot);
         FILE* file = std::fopen(path.c_str(), "r+b");
         ASSERT_NE(file, nullptr);
         std::fseek(file, long(at), SEEK_SET);
         int const b = std::fgetc(file);
         std::fseek(file, long(at), SEEK_SET);
         std::fputc(b ^ 0xFF, file);
         std::fclose(file);
      };
   };
   Case const cases[] = {
       {"first record damaged", flipRecord(0), {"resyncStatus 0"}, 0, 1},
       {"later record damaged",
        flipRecord(2),
        {"populate 1", "populate 2", "highestKeyIs 2", "resyncStatus 0"},
        2,
        1},
       // The chip lost the third entry: its handle is kept under the null match, the record
       // is still handed to the key manager, with no match, and the walk goes on.
       {"entry gone from the chip",
        [](Files const& f, std::vector<Hdl> const& h) {
           auto chip = chip::Chip::open(f.chip);
           ASSERT_EQ(chip->entryDel(h[2]), 0);
        },
        {"populate 1", "populate 2", "populate 3", "populate 4", "highestKeyIs 4",
         "resyncStatus 0"},
        4,
        0},
   };
   for (Case const& k : cases) {
      SCOPED_TRACE(k.name);
      Files files;
      std::vector<Hdl> const handles = produce(files);
      k.damage(files, handles);
      Rig c(over(files));
      c.create();
      EXPECT_EQ(c.ops(), k.ops);
      EXPECT_EQ(c.handles().entries(), k.handles);
      EXPECT_EQ(c.keys->tableMap().repairs(), k.repairs);
      if (k.repairs == 0) {
         ASSERT_EQ(c.log[2].op, "populate");
         EXPECT_EQ(c.log[2].match, nullptr);
         EXPECT_EQ(c.handles().entry(nullptr), handles[2]);
         EXPECT_FALSE(c.keys->matchOf(3));
      }
   }
}

// Reads entries like the PD back end but fails on the second read.
class FailingReadTable : public TwiceNatAddrOnlyTablePd {
 public:
   using TwiceNatAddrOnlyTablePd::TwiceNatAddrOnlyTablePd;
   TwiceNatAddrOnlyTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle h) const override {
      if (++reads_ == 2) throw BfTable::BfTableException("read failed", 15);
      return TwiceNatAddrOnlyTablePd::entryByHandle(h);
   }
   ZIN_ALLOCATED(FailingReadTable)

 private:
   mutable int reads_ = 0;
};

TEST(PdResync, AReadbackThatThrowsEndsTheResync) {
   Files files;
   produce(files);
   Rig c(over(files));
   auto helper = twiceNatAddrOnlyTableHelperFactory(kDev, kAllPipes);
   helper->pdLibIs(kSdkName, sdkHandle(), kSess);
   helper->sdkHandlesIs();
   TwiceNatAddrOnlyTable::Ptr table = new FailingReadTable(helper, c.km, c.sm, 1);
   EXPECT_THROW(resyncTable(*table), BfTable::BfTableException);
   EXPECT_EQ(c.ops(), std::vector<std::string>{"populate 1"});
   EXPECT_EQ(helper->sdkHandles()->entries(), 1u);
}

}  // namespace
}  // namespace pdtest
