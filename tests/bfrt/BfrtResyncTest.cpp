// A table created over entries that an earlier table programmed, through either back end,
// carries on with them after reading them back through its own back end.
#include <fcntl.h>

#include <cstddef>
#include <set>

#include "BfrtFixture.h"

namespace bfrttest {
namespace {

using Seen = std::tuple<U32, U32, U16, U64, int, U16, U16, U8, U8>;

Seen seen(TwiceNatAddrOnlyTableEntry const& e) {
   auto const& m = *e.match();
   auto const& a = *e.action();
   return {m.outerIpv4HdrDip(),
           m.outerIpv4HdrSip(),
           m.l3InfoVrfId(),
           m.isSet(),
           a.actionType(),
           a.keyId(),
           a.rwId(),
           a.prot(),
           a.frag()};
}

// Turns the chip file's BfRt runtime on or off; the entries stay as they are.
void bfrtIs(std::string const& path, bool on) {
   int fd = ::open(path.c_str(), O_RDWR);
   ASSERT_GE(fd, 0);
   uint32_t flags = 0;
   off_t const at = offsetof(chip::Header, profileFlags);
   ASSERT_EQ(::pread(fd, &flags, sizeof flags, at), ssize_t(sizeof flags));
   flags = on ? flags | chip::kBfrt : flags & ~uint32_t(chip::kBfrt);
   ASSERT_EQ(::pwrite(fd, &flags, sizeof flags, at), ssize_t(sizeof flags));
   ::close(fd);
}

struct Handover {
   bool firstBfrt, secondBfrt;
};

class BfrtResync : public BfrtFixture, public testing::WithParamInterface<Handover> {
 protected:
   ~BfrtResync() override { chip::Chip::destroy(chipPath_); }
   bool bfrtBacked() const { return dynamic_cast<TwiceNatAddrOnlyTableBfrt*>(table_.ptr()); }
   std::string chipPath_ = testing::TempDir() + "bfrt_chip_" + std::to_string(::getpid());
};

TEST_P(BfrtResync, EntriesCarryOverToTheNextTable) {
   auto const [firstBfrt, secondBfrt] = GetParam();
   chip_ = chip::Chip::create(chipPath_, {.capacity = 256, .pipes = 2, .bfrt = firstBfrt});
   open({}, 1);
   ASSERT_EQ(bfrtBacked(), firstBfrt);
   Match m1 = matchOf(0x0a000001, 0x0a000002), m2 = matchOf(0x0a000003, 0x0a000004);
   m2->l3InfoVrfIdIs(9);
   program(m1, actionOf(twiceNatAddrOnlyHitActionSpec, 1, 2, 3, 4, 5));
   program(m2, actionOf(twiceNatAddrOnlyHitEcmpActionSpec, 6, 7, 8, 9, 10));
   std::set<Seen> before;
   for (Match const& m : {m1, m2}) {
      keys_->recordHandleIs(keys_->keyOf(m.ptr()), handles().entry(m));
      before.insert(seen(table_->entry(m)));
   }
   close();
   chip_.reset();
   bfrtIs(chipPath_, secondBfrt);
   chip_ = chip::Chip::open(chipPath_);
   open({}, 1);
   ASSERT_EQ(bfrtBacked(), secondBfrt);
   EXPECT_EQ(keys_->matches(), 2u);
   std::set<Seen> after;
   for (auto it = handles().entryIter(); it != handles().entryEnd(); ++it) {
      TwiceNatAddrOnlyMatchSpec::PtrConst m = it.key();
      after.insert(seen(table_->entry(m)));
      // The match read back is the one the key manager now knows the key by.
      EXPECT_NE(keys_->keyOf(m.ptr()), 0u);
   }
   EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(Handovers, BfrtResync,
                         testing::Values(Handover{true, true}, Handover{false, true},
                                         Handover{true, false}));

}  // namespace
}  // namespace bfrttest
