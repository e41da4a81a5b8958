// A chip in a file outlives the process that wrote it; bad files, profiles and devices are
// refused.
#include <gmock/gmock.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "ChipFixture.h"
#include "chip/ChipException.h"

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
   p.vrfKeyField = false;
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
   EXPECT_TRUE(c->profile().capacity == 1000 && c->pipes() == 2 && !c->profile().vrfKeyField);
   EXPECT_EQ(c->scope(), chip::Scope::singlePipe);
   EXPECT_EQ(c->count(), uint32_t(kN - kN / 3));
   EXPECT_EQ(c->defaultAction(1).action, chip::Action::hitEcmp);
   EXPECT_EQ(c->defaultAction(0).action, chip::Action::onMiss);
   Hdl top = 0;
   for (U16 pipe = 0; pipe < 2; ++pipe) {
      for (auto const& e : c->entries(pipe)) {
         EXPECT_TRUE(e.key.dip % 2 == pipe && e.key.dip % 3 != 0 && e.act.params[4] == e.key.dip)
             << e.key.dip;
         chip::EntryView again;
         ASSERT_EQ(c->entryGet(e.handle, &again), 0);
         EXPECT_EQ(again.key, e.key);
         top = std::max(top, e.handle);
      }
   }
   // The handle counter came along too: a new entry gets a handle never seen.
   Hdl h = 0;
   ASSERT_EQ(c->entryAdd(chip::Key{0, 0, 1u << 20, 1}, chip::ActionRec{}, &h), 0);
   EXPECT_GT(h, top);
   EXPECT_EQ(c->entryAdd(chip::Key{1, 0, 1, 7}, chip::ActionRec{}, &h), 4);
}

void patch(std::string const& path, long offset, std::string const& bytes) {
   std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
   f.seekp(offset);
   f.write(bytes.data(), std::streamsize(bytes.size()));
}

TEST_F(ChipFile, DamagedFilesAreRefused) {
   struct Row {
      char const* what;
      std::function<void(std::string const&)> damage;
      char const* message;
   } const rows[] = {
       {"missing", [](auto const& p) { chip::Chip::destroy(p); }, "cannot be opened"},
       {"short", [](auto const& p) { std::filesystem::resize_file(p, 10); }, "too short"},
       {"truncated", [](auto const& p) { std::filesystem::resize_file(p, 4096); },
        "bytes where its header needs"},
       {"bad magic", [](auto const& p) { patch(p, 0, "XXXX"); }, "bad magic"},
       {"other version", [](auto const& p) { patch(p, 8, std::string("\x07\0\0\0", 4)); },
        "version 7"},
       {"bad scope",
        [](auto const& p) {
           patch(p, offsetof(chip::Header, scope), std::string("\x05\0\0\0", 4));
        },
        "corrupt table state"},
       {"count disagrees",
        [](auto const& p) { patch(p, offsetof(chip::Header, count), std::string(4, '\0')); },
        "corrupt entry count"},
       {"zeroed key index: the live entry is lost",
        [](auto const& p) {
           auto size = std::filesystem::file_size(p);
           patch(p, long(size) - 2 * 128 * 4, std::string(128 * 4, '\0'));
        },
        "corrupt entry in slot 0"},
   };
   chip::Profile p;
   p.capacity = 64;
   for (auto const& r : rows) {
      Hdl h;
      ASSERT_EQ(chip::Chip::create(path, p)->entryAdd(chip::Key{0xFFFF, 1, 2, 3}, {}, &h), 0);
      r.damage(path);
      try {
         chip::Chip::open(path);
         ADD_FAILURE() << "opened a damaged chip file: " << r.what;
      } catch (chip::ChipException const& e) {
         EXPECT_THAT(e.what(), testing::HasSubstr(r.message)) << r.what;
      }
   }
}

TEST(ChipProfile, BadProfilesAndDevicesAreRefused) {
   for (auto [pipes, capacity] : {std::pair<U32, U32>{0, 10}, {4, 0}}) {
      chip::Profile p;
      p.pipes = pipes;
      p.capacity = capacity;
      EXPECT_THROW(chip::Chip::createPrivate(p), chip::ChipException) << pipes << " " << capacity;
   }
   auto c = chip::Chip::createPrivate({});
   EXPECT_THROW(chip::attach(256, *c), chip::ChipException);
   chip::attach(9, *c);
   EXPECT_THROW(chip::attach(9, *c), chip::ChipException);
   EXPECT_EQ(chip::attached(9), c.get());
   c.reset();
   EXPECT_EQ(chip::attached(9), nullptr);
   EXPECT_EQ(bfrt::BfRtDevMgr::getInstance().bfRtInfoGet(9), nullptr);
}

}  // namespace
}  // namespace chiptest
