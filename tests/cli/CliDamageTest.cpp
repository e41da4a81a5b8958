// Damaged state through the real commands: a damaged chip slot costs its entry only, what every
// start refuses a repair takes, a check changes nothing, and a full file system refuses at
// creation in one line with nothing left.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "CliRunner.h"
#include "chip/ChipLayout.h"

namespace TwiceNatCliTest {
namespace {

namespace fs = std::filesystem;

// A chip of 64 entries holding 50, the i-th added (from 0) in slot i with handle 0x10001 + i,
// and the key table's record of each.
void fifty(CliState const& st) {
   st.ok("chip create --capacity 64");
   std::string lines;
   for (int i = 1; i <= 50; ++i)
      lines +=
          "10.0.0." + std::to_string(i) + " 10.1.0.1 0 hit " + std::to_string(i) + " 0 6 0 1\n";
   st.ok("load", {st.file("fifty.txt", lines)});
}

std::size_t slotAt(unsigned slot) {
   return chip::layout::align64(sizeof(chip::Header)) + slot * sizeof(chip::Slot);
}

int entries(CliState const& st) {
   return lineCount(st.ok("show")) - 2;  // a heading and a count
}

TEST(CliDamage, ADamagedSlotCostsItsEntryOnly) {
   CliState st;
   fifty(st);
   TwiceNatTest::flipByte(st.dir() + "/chip", slotAt(7) + offsetof(chip::Slot, key) + 6);
   CliResult check = st.run("chip check");
   EXPECT_EQ(check.status, 1) << check.err;
   EXPECT_THAT(check.out, AllOf(HasSubstr("entry 0x10008 in slot 7 fails its check"),
                                HasSubstr("key 8 names entry 0x10008"),
                                HasSubstr("the next start quarantines it")));
   EXPECT_EQ(st.run("chip check").out, check.out) << "a check changes nothing";

   CliResult show = st.run("show");
   EXPECT_EQ(show.status, 0) << show.err;
   EXPECT_THAT(show.out, AllOf(HasSubstr("49 entries of 49"), Not(HasSubstr("10.0.0.8 "))));
   EXPECT_THAT(show.err, AllOf(HasSubstr("quarantined (the entry is lost)"),
                               HasSubstr("key 8 named entry 0x10008"),
                               HasSubstr("1 key record without a chip entry dropped")));
   EXPECT_EQ(entries(st), 49);
   check = st.run("chip check");
   EXPECT_EQ(check.status, 0);
   EXPECT_THAT(check.out, HasSubstr("(49 entries) and its key table (49 records) are whole"));
}

TEST(CliDamage, WhatEveryStartRefusesARepairTakes) {
   struct Case {
      char const* name;
      std::function<void(CliState const&)> damage;
      char const* startSays;
      int kept;  // entries the repair keeps
   };
   auto flip = [](char const* file, std::size_t at) {
      return [=](CliState const& st) { TwiceNatTest::flipByte(st.dir() + file, at); };
   };
   std::vector<Case> const cases = {
       {"chip magic", flip("/chip", 2), "has a damaged magic number", 50},
       {"chip cut short",
        [](CliState const& st) { fs::resize_file(st.dir() + "/chip", slotAt(40) + 3); },
        "bytes where its profile needs", 40},
       {"key table removed", [](CliState const& st) { fs::remove(st.dir() + "/keys"); },
        "the key table " /* DIR/keys of the chip is missing */, 50},
       {"key table magic", flip("/keys", 5), "has a damaged magic number", 50},
       {"key table overwritten",
        [](CliState const& st) { std::ofstream(st.dir() + "/keys") << std::string(4096, 'x'); },
        "not a key table", 50},
   };
   for (Case const& k : cases) {
      SCOPED_TRACE(k.name);
      CliState st;
      fifty(st);
      k.damage(st);
      for (char const* line : {"show", "set --dst 10.9.9.9 --src 1.1.1.1 --action onMiss"}) {
         CliResult const r = st.run(line);
         EXPECT_EQ(r.status, 2);
         EXPECT_THAT(r.err, AllOf(HasSubstr(k.startSays), HasSubstr("'twicenat chip repair'")));
         EXPECT_EQ(lineCount(r.err), 1) << r.err;
      }
      CliResult const check = st.run("chip check");
      EXPECT_EQ(check.status, 1);
      EXPECT_THAT(check.out, HasSubstr("damage found that every start refuses"));
      CliResult const repair = st.run("chip repair");
      EXPECT_EQ(repair.status, 0) << repair.err;
      EXPECT_THAT(repair.out, HasSubstr(std::to_string(k.kept) + " entries serve"));
      EXPECT_EQ(entries(st), k.kept);
      EXPECT_EQ(st.run("chip check").status, 0);
      EXPECT_THAT(st.ok("chip repair"), HasSubstr("nothing to repair"));
   }
}

TEST(CliDamage, UnidentifiableFilesAreRefusedByEveryCommand) {
   CliState st;
   fifty(st);
   std::ofstream(st.dir() + "/chip") << std::string(70000, 'x');
   for (char const* line : {"show", "chip check", "chip repair"}) {
      CliResult const r = st.run(line);
      EXPECT_EQ(r.status, 2) << line;
      EXPECT_THAT(r.err, AllOf(HasSubstr("is not a chip file"), Not(HasSubstr("chip repair"))));
   }
}

// Each state file's space is reserved when it is made: no store finds the file system full
// later, and a file system that is full (here: a file-size limit) refuses the create in one
// line, leaving nothing.
TEST(CliDamage, StateFilesAreReservedAndAFullFileSystemRefusesTheCreate) {
   CliState st;
   CliResult const r = st.runArgs(
       "limited", {"sh", "-c", "ulimit -f 256 && exec \"$0\" \"$@\"", TWICENAT_BIN_DIR "/twicenat",
                   "--state", st.dir(), "chip", "create", "--capacity", "8192"});
   EXPECT_EQ(r.status, 1);
   EXPECT_THAT(r.err, HasSubstr("bytes reserved: File too large"));
   EXPECT_EQ(lineCount(r.err), 1) << r.err;
   for (auto const& f : fs::directory_iterator(st.dir()))
      EXPECT_EQ(f.path().filename(), "lock") << "left behind";

   st.ok("chip create --capacity 8192");
   for (char const* name : {"/chip", "/keys"}) {
      struct stat s {};
      ASSERT_EQ(::stat((st.dir() + name).c_str(), &s), 0);
      EXPECT_GE(s.st_blocks * 512, s.st_size) << name << " is sparse";
   }
}

// The same on a real file system that fills up: a 2 MiB tmpfs mounted in a mount namespace of
// the test's own (root may make one; other users need unprivileged user namespaces).
TEST(CliDamage, AFullTmpfsRefusesTheCreateAndNeverFailsALaterStore) {
   CliState st;
   std::string const mnt = st.root() + "/small";
   fs::create_directories(mnt);
   std::string const bin = TWICENAT_BIN_DIR "/twicenat --state " + mnt + "/state ";
   std::string const script =
       "mount -t tmpfs -o size=2m tmpfs " + mnt + " || exit 99\n" +  //
       bin + "chip create; echo \"create=$?\"; ls " + mnt + "/state\n" + bin +
       "chip create --capacity 4096 >/dev/null || exit 98\n" + "head -c 4M /dev/zero > " + mnt +
       "/filler 2>/dev/null; df -k " + mnt + " | tail -1\n" +
       "for i in $(seq 1 1000); do echo \"10.0.$((i / 250)).$((i % 250)) 10.1.0.1 0 onMiss\"; "
       "done > " +
       st.root() + "/load.txt\n" + bin + "load " + st.root() +
       "/load.txt >/dev/null; echo \"load=$?\"\n" + bin + "chip show | grep used\n";
   Args const asRoot{"unshare", "--mount", "sh", "-c", script};
   Args const asUser{"unshare", "--user", "--map-root-user", "--mount", "sh", "-c", script};
   CliResult r = st.runArgs("tmpfs", ::geteuid() == 0 ? asRoot : asUser);
   if (r.status == 99 || r.status == 1) {
      GTEST_SKIP() << "no mount namespace with a tmpfs for this user (" << r.err << ")";
   }
   EXPECT_EQ(r.status, 0) << r.err;
   EXPECT_THAT(r.out, AllOf(HasSubstr("create=1\nlock\n"), HasSubstr("load=0"),
                            HasSubstr("used         1000 of 4096 entries")));
   EXPECT_THAT(r.err, HasSubstr("No space left on device"));
   EXPECT_EQ(lineCount(r.err), 1) << r.err;
}

}  // namespace
}  // namespace TwiceNatCliTest
