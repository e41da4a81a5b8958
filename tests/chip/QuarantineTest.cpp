// A chip of some 50 entries against damage: one flipped byte in any live slot or default record
// loses that entry at most, and the open names it; a header a start refuses is repaired when
// what is left of it identifies the chip; the next handle stays above every handle held; and a
// kill at any store of such an open leaves what the next open finishes the same way.
#include <gmock/gmock.h>

#include <cstddef>
#include <functional>

#include "ChipRig.h"
#include "chip/ChipLayout.h"
#include "support/KilledChild.h"

namespace chiptest {
namespace {

using chip::Chip;
using chip::ChipAccess;
using chip::ChipRepair;
using chip::Header;
using testing::HasSubstr;

class Quarantine : public ChipRig {
 public:
   // 56 entries added in all-pipes scope, every seventh deleted again (48 live, with free slots
   // among them), and the all-pipes default set.
   void SetUp() override {
      ChipRig::SetUp();
      auto c = Chip::create(file(), chip::Profile{.capacity = 64, .pipes = 4});
      for (int i = 0; i < 56; ++i) {
         uint32_t h = 0;
         ASSERT_EQ(c->entryAdd(keyOf(i + 1), actOf(i + 1), &h), 0);
         handles.push_back(h);
      }
      for (int i = 3; i < 56; i += 7)
         ASSERT_EQ(c->entryDel(handles[i]), 0);
      uint32_t h = 0;
      ASSERT_EQ(c->defaultSet(chip::kAllPipes, actOf(77), &h), 0);
      state = stateOf(*c);
      pristine = bytesOf(file());
   }

   static size_t slotAt(uint32_t slot) {
      return chip::layout::align64(sizeof(Header)) + slot * sizeof(chip::Slot);
   }
   // The state once `lose` removed an entry, made by the operation that removes it.
   std::string stateAfter(std::function<void(Chip&)> const& lose) {
      bytesAre(file("copy"), pristine);
      auto c = Chip::open(file("copy"));
      lose(*c);
      return stateOf(*c);
   }

   std::vector<uint32_t> handles;  // of every add, in order: the i-th lies in slot i
   std::string state;
   std::vector<char> pristine;
};

TEST_F(Quarantine, AByteFlippedInALiveSlotOrADefaultRecordLosesThatEntryOnly) {
   struct Target {
      size_t begin, end;
      uint32_t handle;    // the entry the damage costs
      bool inUse;         // it is an entry of the table
      std::string after;  // the state without it
   };
   std::vector<Target> targets;
   for (uint32_t slot : {0u, 27u, 55u}) {
      std::string const after = stateAfter([&](Chip& c) { c.entryDel(handles[slot]); });
      targets.push_back({slotAt(slot), slotAt(slot + 1), handles[slot], true, after});
   }
   std::string const noDefault = stateAfter([](Chip& c) { c.defaultReset(chip::kAllPipes); });
   for (uint32_t i = 0; i <= chip::kMaxPipes; ++i) {
      bool const used = i == chip::kMaxPipes;  // the all-pipes default; the others are unused
      std::string const after = used ? noDefault : state;
      uint32_t const handle = chip::kDefaultHandleBase + i;
      size_t const act = offsetof(Header, defaults) + i * sizeof(chip::ActionRec);
      size_t const check = offsetof(Header, defaultChecks) + i * 4;
      targets.push_back({act, act + sizeof(chip::ActionRec), handle, used, after});
      targets.push_back({check, check + 4, handle, used, after});
   }
   size_t const link = offsetof(chip::Slot, nextFree);
   for (Target const& t : targets) {
      for (size_t at = t.begin; at < t.end; ++at) {
         bool const linkWord = t.end - t.begin == sizeof(chip::Slot) && at - t.begin >= link &&
                               at - t.begin < link + 4;
         for (char flip : {char(0x01), char(0xff)}) {
            SCOPED_TRACE("byte " + std::to_string(at) + " ^ " + std::to_string(uint8_t(flip)));
            std::vector<char> bad = pristine;
            bad[at] ^= flip;
            bytesAre(file(), bad);
            auto c = Chip::open(file());
            if (linkWord) {  // a live slot's free-list link is derived: nothing is lost
               ASSERT_EQ(stateOf(*c), state);
               ASSERT_TRUE(c->quarantined().empty());
               continue;
            }
            ASSERT_EQ(stateOf(*c), t.after);
            ASSERT_EQ(c->quarantined().size(), 1u);
            chip::QuarantinedEntry const q = c->quarantined()[0];
            EXPECT_EQ(q.handle, t.handle);
            EXPECT_EQ(q.inUse, t.inUse);
            EXPECT_TRUE(c->damaged());
            char named[16];
            std::snprintf(named, sizeof named, "%#x", t.handle);
            EXPECT_THAT(c->openNotes().front(), HasSubstr(named));
            if (HasFailure()) return;
            expectWorks(c, file());  // the quarantine was stored, and the chip keeps working
         }
      }
   }
}

TEST_F(Quarantine, AHeaderAStartRefusesIsRepairedWhenWhatIsLeftIdentifiesTheChip) {
   size_t const copy = offsetof(Header, fixedCopy);
   size_t const capacity = offsetof(chip::FixedHeader, capacity);
   size_t const identity = offsetof(chip::FixedHeader, identity);
   size_t const cut = slotAt(40) + 5;  // the slots from 40 on are lost
   std::string const lost40 = stateAfter([&](Chip& c) {
      for (uint32_t s = 40; s < 56; ++s)
         c.entryDel(handles[s]);
   });
   struct Case {
      char const* name;
      std::function<void(std::vector<char>&)> damage;
      char const* startSays;  // what a start refuses it with
      bool repairable;
      std::string after;  // the state a repair leaves
   };
   std::vector<Case> const cases = {
       {"magic", [](auto& b) { b[3] ^= 0x10; }, "damaged magic number", true, state},
       {"both magics", [&](auto& b) { b[0] ^= 1, b[copy + 7] ^= 1; }, "damaged magic number", true,
        state},
       {"both copies, other fields",
        [&](auto& b) { b[capacity] ^= 1, b[copy + identity + 2] ^= 0x40; },
        "damaged header (both copies", true, state},
       {"both copies, the same field", [&](auto& b) { b[identity] ^= 1, b[copy + identity] ^= 2; },
        "damaged header (both", false, ""},
       {"cut short", [&](auto& b) { b.resize(cut); }, "bytes where its profile needs", true,
        lost40},
       {"grown", [](auto& b) { b.resize(b.size() + 4096, 'x'); }, "bytes where its profile needs",
        true, state},
   };
   for (Case const& k : cases) {
      SCOPED_TRACE(k.name);
      std::vector<char> bad = pristine;
      k.damage(bad);
      bytesAre(file(), bad);
      for (auto access : {ChipAccess::readOnly, ChipAccess::readWrite}) {
         try {
            Chip::open(file(), access);
            ADD_FAILURE() << "a start took it";
         } catch (chip::ChipStateRefused const& e) {
            EXPECT_THAT(e.what(), HasSubstr(k.startSays));
            EXPECT_EQ(e.repairable(), k.repairable);
         }
      }
      if (!k.repairable) {
         EXPECT_THROW(Chip::open(file(), ChipAccess::readWrite, ChipRepair::header),
                      chip::ChipStateRefused);
         continue;
      }
      // A check sees what a repair does and leaves the file as it is.
      auto check = Chip::open(file(), ChipAccess::readOnly, ChipRepair::header);
      EXPECT_EQ(stateOf(*check), k.after);
      EXPECT_TRUE(check->needsRepair() && check->damaged());
      EXPECT_TRUE(bytesOf(file()) == bad);
      auto c = Chip::open(file(), ChipAccess::readWrite, ChipRepair::header);
      EXPECT_EQ(stateOf(*c), k.after);
      EXPECT_EQ(bytesOf(file()).size(), pristine.size());
      expectWorks(c, file());  // and a start takes it from now on
   }
}

// The next handle is stored twice; damage to both that leaves them at or below a handle held
// must not hand that handle out again.
TEST_F(Quarantine, TheNextHandleStaysAboveEveryHandleHeld) {
   for (uint32_t stored : {handles[10], handles[55], chip::kFirstHandle}) {
      SCOPED_TRACE(stored);
      std::vector<char> bad = pristine;
      std::memcpy(&bad[offsetof(Header, nextHandle)], &stored, 4);
      std::memcpy(&bad[offsetof(Header, nextHandleCopy)], &stored, 4);
      bytesAre(file(), bad);
      auto c = Chip::open(file());
      EXPECT_EQ(stateOf(*c), state);
      EXPECT_TRUE(c->damaged());
      uint32_t h = 0;
      ASSERT_EQ(c->entryAdd(keyOf(900), actOf(9), &h), 0);
      EXPECT_GT(h, handles.back());
      chip::EntryView v;
      for (uint32_t held : handles) {
         if (c->entryGet(held, &v) == 0) {
            EXPECT_NE(v.key, keyOf(900)) << held;
         }
      }
      c = Chip::open(file());
      EXPECT_TRUE(c->openNotes().empty()) << c->openNotes().front();
   }
}

// Slots that pass their checks but clash (a slot written over with another's bytes, which no
// store makes): the later one is quarantined, the first serves.
TEST_F(Quarantine, ASlotHoldingAnotherEntrysKeyOrHandleIsQuarantined) {
   for (char const* clash : {"key", "handle"}) {
      std::vector<char> bad = pristine;
      chip::Slot sl;
      std::memcpy(&sl, &bad[slotAt(9)], sizeof sl);
      if (clash == std::string("handle")) {  // a key of its own under slot 9's handle
         sl.key = keyOf(999);
         sl.check = chip::layout::slotCheck(sl.handle, sl.key, sl.act);
      }
      std::memcpy(&bad[slotAt(20)], &sl, sizeof sl);
      bytesAre(file(), bad);
      auto c = Chip::open(file());
      EXPECT_EQ(stateOf(*c), stateAfter([&](Chip& x) { x.entryDel(handles[20]); }));
      EXPECT_THAT(c->openNotes().front(),
                  HasSubstr(std::string("in slot 20 holds the ") + clash + " of slot 9"));
   }
}

// A kill at any store of an open that quarantines or repairs leaves a file that the next such
// open brings to the same state.
TEST_F(Quarantine, AKillInAQuarantiningOrRepairingOpenIsFinishedByTheNext) {
   std::string const lost = stateAfter([&](Chip& c) {
      c.entryDel(handles[5]);
      c.defaultReset(chip::kAllPipes);
   });
   std::vector<char> bad = pristine;
   bad[slotAt(5) + offsetof(chip::Slot, key) + 5] ^= 0x20;
   bad[offsetof(Header, defaultChecks) + 4 * chip::kMaxPipes] ^= 1;
   bad[offsetof(Header, defaultChecks) + 4] ^= 1;  // an unused one
   bad[offsetof(Header, count)] ^= 4;
   for (ChipRepair repair : {ChipRepair::usual, ChipRepair::header}) {
      if (repair == ChipRepair::header) bad[1] ^= 0x01;  // the magic number: a repair's open
      uint64_t kills = 0;
      for (uint64_t n = 1;; ++n) {
         SCOPED_TRACE("killed before store " + std::to_string(n));
         bytesAre(file(), bad);
         auto const open = [&](auto const&) { Chip::open(file(), ChipAccess::readWrite, repair); };
         if (TwiceNatTest::runKilledBefore(n, open).finished) break;
         ++kills;
         auto c = Chip::open(file(), ChipAccess::readWrite, repair);
         ASSERT_EQ(stateOf(*c), lost);
         c = Chip::open(file());
         ASSERT_TRUE(c->openNotes().empty()) << c->openNotes().front();
      }
      EXPECT_GE(kills, 6u);  // the slot, two defaults' action and check, count (derived)
   }
}

}  // namespace
}  // namespace chiptest
