// A chip in a file outlives the process that wrote it, and a bad file is refused.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

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

// Runs `body` in a child process; its result is the child's exit status.
int inChild(std::function<int()> const& body) {
   pid_t pid = ::fork();
   if (pid == 0) {
      int rc = 99;
      try {
         rc = body();
      } catch (std::exception const& e) {
         std::fprintf(stderr, "child: %s\n", e.what());
      }
      ::_exit(rc);
   }
   int status = 0;
   ::waitpid(pid, &status, 0);
   return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(ChipFile, SecondProcessSeesTheWholeState) {
   chip::Profile p;
   p.capacity = 1000;
   p.pipes = 2;
   p.vrfKeyField = false;
   chip::Chip::create(path, p).reset();
   constexpr int kN = 300;
   std::vector<Hdl> handles(kN);
   ASSERT_EQ(inChild([&] {
                auto c = chip::Chip::open(path);
                if (c->scopeIs(1) != 0) return 1;
                chip::ActionRec a;
                a.action = chip::Action::hitEcmp;
                for (int i = 0; i < kN; ++i) {
                   a.params[4] = uint32_t(i);
                   chip::Key k{uint16_t(i % 2), 0, uint32_t(i), 7};
                   if (c->entryAdd(k, a, &handles[i]) != 0) return 2;
                }
                for (int i = 0; i < kN; i += 3)
                   c->entryDel(handles[i]);
                Hdl d;
                c->defaultSet(1, a, &d);
                return 0;
             }),
             0);
   auto c = chip::Chip::open(path);
   EXPECT_EQ(c->profile().capacity, 1000u);
   EXPECT_EQ(c->pipes(), 2u);
   EXPECT_FALSE(c->profile().vrfKeyField);
   EXPECT_EQ(c->scope(), chip::Scope::singlePipe);
   EXPECT_EQ(c->count(), uint32_t(kN - kN / 3));
   EXPECT_EQ(c->defaultAction(1).action, chip::Action::hitEcmp);
   EXPECT_EQ(c->defaultAction(0).action, chip::Action::onMiss);
   Hdl top = 0;
   for (U16 pipe = 0; pipe < 2; ++pipe) {
      for (auto const& e : c->entries(pipe)) {
         EXPECT_EQ(e.key.dip % 2, pipe);
         EXPECT_NE(e.key.dip % 3, 0u) << "deleted in the child";
         EXPECT_EQ(e.act.params[4], e.key.dip);
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
   chip::Key dup{1, 0, 1, 7};
   EXPECT_EQ(c->entryAdd(dup, chip::ActionRec{}, &h), 4);
}

struct Damage {
   char const* name;
   std::function<void(std::string const&)> apply;
   char const* message;
};

class BadChipFile : public ChipFile, public testing::WithParamInterface<Damage> {};

void patch(std::string const& path, long offset, std::string const& bytes) {
   std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
   f.seekp(offset);
   f.write(bytes.data(), std::streamsize(bytes.size()));
}

TEST_P(BadChipFile, IsRefused) {
   chip::Profile p;
   p.capacity = 64;
   {
      auto c = chip::Chip::create(path, p);
      Hdl h;
      ASSERT_EQ(c->entryAdd(chip::Key{0xFFFF, 1, 2, 3}, chip::ActionRec{}, &h), 0);
   }
   GetParam().apply(path);
   try {
      chip::Chip::open(path);
      FAIL() << "opened a damaged chip file";
   } catch (chip::ChipException const& e) {
      EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
   }
}

INSTANTIATE_TEST_SUITE_P(
    Damages, BadChipFile,
    testing::Values(
        Damage{"Missing", [](auto const& p) { chip::Chip::destroy(p); }, "cannot be opened"},
        Damage{"Short", [](auto const& p) { std::filesystem::resize_file(p, 10); }, "too short"},
        Damage{"Truncated", [](auto const& p) { std::filesystem::resize_file(p, 4096); },
               "bytes where its header needs"},
        Damage{"BadMagic", [](auto const& p) { patch(p, 0, "XXXX"); }, "bad magic"},
        Damage{"OtherVersion", [](auto const& p) { patch(p, 8, std::string("\x07\0\0\0", 4)); },
               "version 7"},
        Damage{"BadScope",
               [](auto const& p) {
                  patch(p, offsetof(chip::Header, scope), std::string("\x05\0\0\0", 4));
               },
               "corrupt table state"},
        Damage{"CountDisagrees",
               [](auto const& p) { patch(p, offsetof(chip::Header, count), std::string(4, '\0')); },
               "corrupt entry count"},
        Damage{"LostIndexEntry",
               [](auto const& p) {
                  // Zero the whole key index: the live entry can no longer be found.
                  auto size = std::filesystem::file_size(p);
                  patch(p, long(size) - 2 * 128 * 4, std::string(128 * 4, '\0'));
               },
               "corrupt entry in slot 0"}),
    [](auto const& info) { return std::string(info.param.name); });

TEST(ChipProfile, BadProfilesAndDevicesAreRefused) {
   chip::Profile p;
   p.pipes = 0;
   EXPECT_THROW(chip::Chip::createPrivate(p), chip::ChipException);
   p.pipes = 4;
   p.capacity = 0;
   EXPECT_THROW(chip::Chip::createPrivate(p), chip::ChipException);
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
