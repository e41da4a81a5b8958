// One damaged byte anywhere in a small chip file: the open repairs it (saying so where a stored
// value was wrong) and keeps every entry, quarantines the one entry whose slot or default record
// it hit, or refuses with one line; it never crashes, loops or hands back a changed entry.
// Read-only opens behave alike and leave the file as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <map>

#include <gmock/gmock.h>

#include "ChipRig.h"
#include "chip/ChipLayout.h"

namespace chiptest {
namespace {

using chip::Chip;
using chip::Header;
using testing::HasSubstr;
using testing::ThrowsMessage;

enum class Expect { refused, repaired, same, lost };

struct Region {
   char const* name;
   size_t begin;
   size_t end;
   Expect expect;
   int lost = 0;  // Expect::lost: the entry lost, 1 + its index in `handles`, or -1 - a default
};

class Corruption : public ChipRig {
 public:
   // Two live entries in slots 0 and 2, a freed slot 1, a default, single-pipe scope.
   void SetUp() override {
      ChipRig::SetUp();
      chip::Profile p;
      p.capacity = 4;
      p.pipes = 2;
      auto c = Chip::create(file(), p);
      uint32_t h[3];
      ASSERT_EQ(c->scopeIs(1), 0);
      for (int i = 0; i < 3; ++i)
         ASSERT_EQ(c->entryAdd(keyOf(i, uint16_t(i % 2)), actOf(i + 1), &h[i]), 0);
      handles = {h[0], h[2]};
      ASSERT_EQ(c->entryDel(h[1]), 0);
      ASSERT_EQ(c->defaultSet(1, actOf(9), &h[1]), 0);
      ASSERT_EQ(c->entryMod(h[2], actOf(7)), 0);
      state = stateOf(*c);
      pristine = bytesOf(file());
      // The state after each loss, made by the operation that removes the entry.
      for (int lost : {1, 2, -2}) {
         bytesAre(file(), pristine);
         auto copy = Chip::open(file());
         ASSERT_EQ(lost > 0 ? copy->entryDel(handles[lost - 1]) : copy->defaultReset(1), 0);
         lossStates[lost] = stateOf(*copy);
      }
      bytesAre(file(), pristine);
   }

   std::vector<Region> regions() const {
      size_t const slots = chip::layout::align64(sizeof(Header));
      auto slot = [&](size_t s) { return slots + s * sizeof(chip::Slot); };
      size_t const nextFree = offsetof(chip::Slot, nextFree);
      size_t const checks = offsetof(Header, defaultChecks);
      return {
          {"magic", 0, 8, Expect::refused},
          {"fixed header", 8, sizeof(chip::FixedHeader), Expect::repaired},
          {"scope", offsetof(Header, scope), offsetof(Header, count), Expect::repaired},
          {"count", offsetof(Header, count), offsetof(Header, nextHandle), Expect::repaired},
          {"next handle", offsetof(Header, nextHandle), offsetof(Header, freeHead),
           Expect::repaired},
          {"intent op", offsetof(Header, intent), offsetof(Header, intent.target),
           Expect::repaired},
          {"default 0", offsetof(Header, defaults[0]), offsetof(Header, defaults[1]),
           Expect::repaired},
          {"default 1", offsetof(Header, defaults[1]), offsetof(Header, defaults[2]), Expect::lost,
           -2},
          {"defaults 2 to all pipes", offsetof(Header, defaults[2]), checks, Expect::repaired},
          {"default check 0", checks, checks + 4, Expect::repaired},
          {"default check 1", checks + 4, checks + 8, Expect::lost, -2},
          {"other default checks", checks + 8, checks + sizeof(Header::defaultChecks),
           Expect::repaired},
          {"header copy", offsetof(Header, fixedCopy), sizeof(Header), Expect::repaired},
          {"slot 0 before its link", slot(0), slot(0) + nextFree, Expect::lost, 1},
          {"slot 0 after its link", slot(0) + nextFree + 4, slot(1), Expect::lost, 1},
          {"freed slot 1's handle", slot(1), slot(1) + 4, Expect::repaired},
          {"freed slot 1 after its handle", slot(1) + 4, slot(2), Expect::same},
          {"slot 2 before its link", slot(2), slot(2) + nextFree, Expect::lost, 2},
          {"slot 2's link", slot(2) + nextFree, slot(2) + nextFree + 4, Expect::same},
          {"slot 2 key and action", slot(2) + nextFree + 4, slot(3), Expect::lost, 2},
          {"unused slot 3's handle", slot(3), slot(3) + 4, Expect::repaired},
          {"unused slot 3 after its handle", slot(3) + 4, slot(4), Expect::same},
          {"indices", pristine.size() - 128, pristine.size(), Expect::same},
      };
   }

   std::string state;
   std::vector<char> pristine;
   std::vector<uint32_t> handles;  // of the live entries, in slots 0 and 2
   std::map<int, std::string> lossStates;
};

TEST_F(Corruption, EveryByteFlippedIsRepairedOrRefusedInOneLine) {
   std::vector<Region> const table = regions();
   for (size_t at = 0; at < pristine.size(); ++at) {
      for (char flip : {char(0x01), char(0xff)}) {
         SCOPED_TRACE("byte " + std::to_string(at) + " ^ " + std::to_string(uint8_t(flip)));
         std::vector<char> bad = pristine;
         bad[at] ^= flip;
         bytesAre(file(), bad);
         Region const* region = nullptr;
         for (Region const& r : table)
            if (at >= r.begin && at < r.end) region = &r;
         Expect got = Expect::refused;
         std::vector<Expect> verdicts;
         for (auto access : {chip::ChipAccess::readOnly, chip::ChipAccess::readWrite}) {
            try {
               auto c = Chip::open(file(), access);
               got = c->openNotes().empty() ? Expect::same : Expect::repaired;
               if (region && region->expect == Expect::lost) {
                  got = Expect::lost;
                  ASSERT_EQ(stateOf(*c), lossStates.at(region->lost));
                  ASSERT_EQ(c->quarantined().size(), 1u);
                  EXPECT_TRUE(c->damaged() && c->quarantined()[0].inUse);
               } else {
                  ASSERT_EQ(stateOf(*c), state);
               }
               if (access == chip::ChipAccess::readOnly) {
                  ASSERT_TRUE(bytesOf(file()) == bad);
               } else {
                  expectWorks(c, file());  // repaired for good
               }
            } catch (chip::ChipStateRefused const& e) {
               std::string what = e.what();
               ASSERT_TRUE(what.find(file()) != std::string::npos && what.find('\n') == what.npos)
                   << what;
               got = Expect::refused;
            }
            verdicts.push_back(got);
         }
         EXPECT_EQ(int(verdicts[0]), int(verdicts[1])) << "read-only and writable opens differ";
         if (region) {
            EXPECT_EQ(int(got), int(region->expect)) << region->name;
         }
      }
   }
}

TEST_F(Corruption, FilesThatAreNoChipAreRefusedInOneLine) {
   struct Case {
      char const* name;
      std::vector<char> bytes;
      char const* says;
   };
   // (A file of the wrong size is the repair's: QuarantineTest.)
   std::vector<Case> const cases = {
       {"empty", {}, "too short"},
       {"text", std::vector<char>(2000, 'x'), "bad magic"},
   };
   for (Case const& k : cases) {
      SCOPED_TRACE(k.name);
      bytesAre(file(), k.bytes);
      for (auto access : {chip::ChipAccess::readOnly, chip::ChipAccess::readWrite})
         EXPECT_THAT([&] { Chip::open(file(), access); },
                     ThrowsMessage<chip::ChipStateRefused>(HasSubstr(k.says)));
   }
   EXPECT_THROW(Chip::open(dir), chip::ChipStateRefused);
   EXPECT_THROW(Chip::open(file("missing")), chip::ChipException);
}

TEST_F(Corruption, ReadOnlyOpenRepairsInMemoryAndRefusesEveryChange) {
   // A count one off, as a kill after an add leaves it.
   std::vector<char> bad = pristine;
   bad[offsetof(Header, count)] ^= 1;
   bytesAre(file(), bad);
   auto c = Chip::open(file(), chip::ChipAccess::readOnly);
   ASSERT_EQ(c->openNotes().size(), 1u);
   EXPECT_THAT(c->openNotes()[0], HasSubstr("entry count 3 recomputed as 2"));
   EXPECT_EQ(stateOf(*c), state);
   std::vector<std::function<void()>> const changes = {
       [&] { c->scopeIs(0); },
       [&] { c->entryAdd(keyOf(8, 0), actOf(8), nullptr); },
       [&] { c->entryMod(chip::kFirstHandle, actOf(8)); },
       [&] { c->entryDel(chip::kFirstHandle); },
       [&] { c->defaultSet(0, actOf(8), nullptr); },
       [&] { c->defaultReset(1); },
       [&] { c->rawParamIs(chip::kFirstHandle, 0, 1); },
   };
   for (auto const& change : changes)
      EXPECT_THAT(change, ThrowsMessage<chip::ChipException>(HasSubstr("opened read-only")));
   EXPECT_TRUE(bytesOf(file()) == bad);
}

// (A chip's identity, which binds its key table, is the cli tests' and the kill tool's: a key
// table of another chip is refused, and read-only starts accept their own.)
TEST_F(Corruption, FilesAreOwnersOnly) {
   struct stat st {};
   ASSERT_EQ(::stat(file().c_str(), &st), 0);
   EXPECT_EQ(st.st_mode & 0777, 0600u);
   if (::geteuid() != 0) GTEST_SKIP() << "handing a file to another user needs root";
   ASSERT_EQ(::chown(file().c_str(), 4242, 4242), 0);
   EXPECT_THAT([&] { Chip::open(file()); },
               ThrowsMessage<chip::ChipStateRefused>(HasSubstr("owned by uid 4242")));
   EXPECT_EQ(stateOf(*Chip::open(file(), chip::ChipAccess::readOnly)), state);
}

}  // namespace
}  // namespace chiptest
