// A chip in a file outlives the process that wrote it.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "ChipFixture.h"

namespace chiptest {
namespace {

class ChipFile : public testing::Test {
 public:
   std::string path = (std::filesystem::temp_directory_path() /
                       ("chip-test-" + std::to_string(::getpid()) + ".chip"))
                          .string();
   void TearDown() override { chip::Chip::destroy(path); }
};

TEST_F(ChipFile, SecondProcessSeesTheWholeState) {
   chip::Profile p;
   p.capacity = 1000;
   p.pipes = 2;
   chip::Chip::create(path, p).reset();
   constexpr int kN = 300;
   // The child adds kN entries over both pipes, deletes every third and sets a default.
   pid_t pid = ::fork();
   if (pid == 0) {
      int rc = 0;
      try {
         auto c = chip::Chip::open(path);
         rc = c->scopeIs(1);
         chip::ActionRec a;
         a.action = chip::Action::hitEcmp;
         std::vector<Hdl> handles(kN);
         for (int i = 0; i < kN && rc == 0; ++i) {
            a.params[4] = uint32_t(i);
            rc = c->entryAdd(chip::Key{uint16_t(i % 2), 0, uint32_t(i), 7}, a, &handles[i]);
         }
         for (int i = 0; i < kN && rc == 0; i += 3)
            rc = c->entryDel(handles[i]);
         Hdl d;
         if (rc == 0) rc = c->defaultSet(1, a, &d);
      } catch (...) {
         rc = 99;
      }
      ::_exit(rc);
   }
   int status = 0;
   ASSERT_EQ(::waitpid(pid, &status, 0), pid);
   ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

   auto c = chip::Chip::open(path);
   EXPECT_TRUE(c->profile().capacity == 1000 && c->pipes() == 2);
   EXPECT_EQ(c->scope(), chip::Scope::singlePipe);
   EXPECT_EQ(c->count(), uint32_t(kN - kN / 3));
   EXPECT_EQ(c->defaultAction(1).action, chip::Action::hitEcmp);
   Hdl top = 0;
   for (U16 pipe = 0; pipe < 2; ++pipe) {
      for (auto const& e : c->entries(pipe)) {
         EXPECT_TRUE(e.key.dip % 2 == pipe && e.key.dip % 3 != 0 && e.act.params[4] == e.key.dip)
             << e.key.dip;
         top = std::max(top, e.handle);
      }
   }
   // The handle counter came along too: a new entry gets a handle never seen.
   Hdl h = 0;
   ASSERT_EQ(c->entryAdd(chip::Key{0, 0, 1u << 20, 1}, chip::ActionRec{}, &h), 0);
   EXPECT_GT(h, top);
   EXPECT_EQ(c->entryAdd(chip::Key{1, 0, 1, 7}, chip::ActionRec{}, &h), 4);
}

}  // namespace
}  // namespace chiptest
