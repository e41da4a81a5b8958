// State files seen by another user, or taken from another chip (which files the chip refuses
// is the chip's own tests' and CliDamageTest's).
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "CliRunner.h"

namespace TwiceNatCliTest {
namespace {

// The build's twicenat and its libraries, copied where another user can reach them: the build
// tree may lie under a folder that only its owner may enter (a clone in a `mktemp -d` folder).
// Build-tree programs find their libraries relative to themselves, so the copy runs as it is.
std::string stagedForOthers(CliState const& st) {
   namespace fs = std::filesystem;
   fs::path const stage = st.root() + "/stage";
   fs::create_directories(stage / "bin");
   fs::copy(TWICENAT_BIN_DIR "/twicenat", stage / "bin");
   fs::copy(TWICENAT_LIB_DIR, stage / "lib",
            fs::copy_options::recursive | fs::copy_options::copy_symlinks);
   for (fs::path const& p : {stage, stage / "bin", stage / "lib"})
      fs::permissions(p, fs::perms(0755));
   return (stage / "bin/twicenat").string();
}

// Runs a staged twicenat as the unprivileged user 65534; needs root and setpriv.
CliResult runAsNobody(CliState const& st, std::string const& twicenat, std::string const& line) {
   Args args{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", twicenat};
   Args const own = st.argv(line);
   args.insert(args.end(), own.begin() + 1, own.end());
   return st.runArgs("nobody", args);
}

bool canSwitchUser() {
   return ::geteuid() == 0 && std::system("setpriv --help >/dev/null 2>&1") == 0;
}

TEST(CliStateFiles, AnotherUserReadsAndCannotChange) {
   if (!canSwitchUser()) GTEST_SKIP() << "needs root and setpriv";
   CliState st;
   std::string const twicenat = stagedForOthers(st);
   st.ok("chip create --capacity 64");
   st.ok("set --dst 10.0.0.1 --src 10.0.0.2 --action hit --next-hop 4");
   for (std::string const& p : {testing::TempDir(), st.root(), st.dir()})
      ::chmod(p.c_str(), 0755);
   for (char const* f : {"/chip", "/keys", "/lock"})
      ::chmod((st.dir() + f).c_str(), 0644);

   // What it may read it shows; a change fails in one line.
   for (auto [line, ok, says] :
        {std::tuple{"show", true, "10.0.0.1"},
         {"chip show", true, "1 of 64 entries"},
         {"set --dst 10.0.0.9 --src 10.0.0.2 --action onMiss", false, "cannot write"}}) {
      SCOPED_TRACE(line);
      CliResult const r = runAsNobody(st, twicenat, line);
      EXPECT_EQ(r.status == 0, ok) << r.err;
      EXPECT_THAT(ok ? r.out : r.err, HasSubstr(says));
      EXPECT_EQ(lineCount(r.err), ok ? 0 : 1);
   }
}

// Another user's state is refused the same way by every command, chip destroy included, also
// to root; a folder closed to this user says so rather than that it holds no chip.
TEST(CliStateFiles, AnotherUsersStateIsRefusedByEveryCommand) {
   if (!canSwitchUser()) GTEST_SKIP() << "needs root and setpriv";
   CliState st;
   std::string const twicenat = stagedForOthers(st);
   st.ok("chip create --capacity 64");
   for (char const* f : {"/chip", "/keys"})
      ASSERT_EQ(::chown((st.dir() + f).c_str(), 4242, 4242), 0);
   for (char const* line : {"set --dst 10.0.0.9 --src 10.0.0.2 --action onMiss", "chip destroy"}) {
      CliResult const r = st.run(line);
      EXPECT_EQ(r.status, 2) << line;
      EXPECT_THAT(r.err, HasSubstr("is owned by uid 4242"));
      EXPECT_EQ(lineCount(r.err), 1) << r.err;
   }
   EXPECT_TRUE(std::filesystem::exists(st.dir() + "/chip"));

   ::chmod(st.root().c_str(), 0755);  // the state folder itself stays 0700
   ::chmod(testing::TempDir().c_str(), 0755);
   for (char const* line : {"show", "status", "chip check"}) {
      CliResult const r = runAsNobody(st, twicenat, line);
      EXPECT_EQ(r.status, 2) << line;
      EXPECT_THAT(r.err, HasSubstr(st.dir() + " cannot be looked into: Permission denied"));
   }
}

TEST(CliStateFiles, ForeignOrWrongFilesAreRefusedInOneLine) {
   CliState st, other;
   st.ok("chip create --capacity 64");
   other.ok("chip create --capacity 64");
   st.ok("show");  // binds the key table to its chip
   auto const refused = [&](std::string const& message) {
      CliResult const r = st.run("show");
      EXPECT_EQ(r.status, 2);
      EXPECT_THAT(r.err, HasSubstr(message));
      EXPECT_EQ(lineCount(r.err), 1) << r.err;
   };
   std::filesystem::copy_file(other.dir() + "/keys", st.dir() + "/keys",
                              std::filesystem::copy_options::overwrite_existing);
   refused("belongs to another chip");
}

}  // namespace
}  // namespace TwiceNatCliTest
