// Batches and pages as the writers make them are read without the general JSON reader; both
// readers must give the same values, and whatever the writers never make goes to the general one.
#include <gtest/gtest.h>

#include <random>

#include "agent/service/CanonicalLines.h"
#include "agent/service/ReplyCodec.h"
#include "agent/service/RequestCodec.h"

namespace TwiceNatServiceTest {
namespace {

using namespace TwiceNatService;

// Values drawn with their edges: 0, the largest, and anything between.
struct Draw {
   std::mt19937_64 rng{20261208};
   U64 upTo(U64 max) {
      switch (rng() % 4) {
         case 0:
            return 0;
         case 1:
            return max;
         default:
            return rng() % (max + 1);
      }
   }
   MatchKey key() {
      bool const vrf = rng() % 2;
      return {U32(upTo(0xFFFFFFFF)), U32(upTo(0xFFFFFFFF)), U16(vrf ? upTo(0xFFFF) : 0), vrf};
   }
   ActionValues action() {
      ActionKind const k = ActionKind(rng() % 3);
      if (k == ActionKind::onMiss) return {};
      return {k,
              U16(upTo(0xFFFF)),
              U16(upTo(0xFFFF)),
              U8(upTo(0xFF)),
              U8(upTo(0xFF)),
              U16(upTo(0xFFFF))};
   }
   Update update() {
      Update u{UpdateKind(rng() % 6), {}};
      if (u.kind != UpdateKind::defaultSet && u.kind != UpdateKind::defaultReset)
         u.entry.match = key();
      if (u.kind != UpdateKind::remove && u.kind != UpdateKind::defaultReset)
         u.entry.action = action();
      return u;
   }
   EntryRow row(bool withKey) {
      EntryRow r;
      r.handle = U32(upTo(0xFFFFFFFF));
      r.origin = EntryOrigin(rng() % 3);
      if (withKey) r.entry.match = key();
      if (r.origin != EntryOrigin::missingOnChip) r.entry.action = action();
      return r;
   }
};

std::string encoded(Page const& p) {
   std::string out;
   encodePage(p, out);
   return out;
}

TEST(CanonicalLinesTest, WrittenBatchesAndPagesReadTheSameBothWays) {
   Draw d;
   for (int n = 0; n < 300; ++n) {
      Request q{n % 4 ? Op::apply : Op::part};
      if (q.op == Op::apply) q.mode = BatchMode(d.rng() % 3);
      std::size_t const updates = n == 0 ? 0 : n == 1 ? kMaxBatchUpdates : d.rng() % 40;
      for (std::size_t i = 0; i < updates; ++i)
         q.updates.push_back(d.update());
      std::string const line = encodeRequest(q);
      SCOPED_TRACE(line.substr(0, 300));
      Request quick;
      ASSERT_TRUE(readCanonicalBatch(line, quick));
      EXPECT_EQ(encodeRequest(quick), line);
      EXPECT_EQ(encodeRequest(parseRequestInFull(line)), line);
      // A load's first batch says how many updates follow: the general reader takes it.
      if (q.op != Op::apply) continue;
      q.expect = 1 + d.rng() % 1'000'000;
      std::string const first = encodeRequest(q);
      EXPECT_FALSE(readCanonicalBatch(first, quick));
      EXPECT_EQ(encodeRequest(parseRequest(first)), first);
   }
   for (int n = 0; n < 300; ++n) {
      Page p;
      for (std::size_t i = 0, rows = n == 0 ? 0 : d.rng() % 30; i < rows; ++i)
         p.rows.push_back(d.row(true));
      p.last = n % 2;
      if (p.last) {
         p.matching = d.upTo(~U64(0) / 10);
         p.total = d.upTo(~U64(0) / 10);
         if (d.rng() % 2) p.defaultRow = d.row(false);
      }
      std::string const line = encoded(p);
      SCOPED_TRACE(line.substr(0, 300));
      Page quick, full;
      ASSERT_TRUE(readCanonicalPage(line, quick));
      EXPECT_EQ(encoded(quick), line);
      parsePageInFull(line, full);
      EXPECT_EQ(encoded(full), line);
   }
}

// The outcome of a reader as text: the value's encoding, or the refusal's message.
template <typename Read>
std::string outcome(Read read) {
   try {
      return read();
   } catch (ProtocolError const& e) {
      return std::string("refused: ") + e.what();
   }
}

TEST(CanonicalLinesTest, WhatTheWritersNeverMakeGoesToTheGeneralReader) {
   std::string const head = R"({"v":2,"op":"apply","mode":"continue","updates":[)";
   std::string eight;
   for (std::size_t i = 0; i <= kMaxBatchUpdates; ++i)
      eight += std::string(i ? "," : "") + R"(["defaultReset"])";
   for (std::string const& batch : std::vector<std::string>{
            head + R"(["program", "10.0.0.1","10.0.0.2",null,"onMiss"]]})",
            head + R"(["program","10.0.0.\u0031","10.0.0.2",null,"onMiss"]]})",
            head + R"(["program","10.0.0.01","10.0.0.2",null,"onMiss"]]})",
            head + R"(["program","10.0.0.256","10.0.0.2",null,"onMiss"]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",07,"onMiss"]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",65536,"onMiss"]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",1e2,"onMiss"]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",-1,"onMiss"]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",1,"hit",1,2,256,0,7]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",1,"hit",1,2,6,0,65536]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",1,"hit",1,2,6,0]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",1,"onMiss",1,2,6,0,7]]})",
            head + R"(["program","10.0.0.1","10.0.0.2",1,"hitch",1,2,6,0,7]]})",
            head + R"(["delete","10.0.0.1","10.0.0.2",1,"onMiss"]]})",
            head + R"({"op":"delete","dst":"10.0.0.1","src":"10.0.0.2"}]})",
            head + R"(["defaultReset"]]} x)",
            head + R"(["defaultReset"]],"mode":"dryRun"})",
            head + eight + "]}",
            R"({"v":2,"op":"apply","mode":"undo","updates":[]})",
            R"({"v":2,"op":"part","mode":"continue","updates":[]})",
            R"({"v":20,"op":"part","updates":[]})",
        }) {
      SCOPED_TRACE(batch.substr(0, 200));
      Request quick;
      EXPECT_FALSE(readCanonicalBatch(batch, quick));
      EXPECT_EQ(outcome([&] { return encodeRequest(parseRequest(batch)); }),
                outcome([&] { return encodeRequest(parseRequestInFull(batch)); }));
   }
   std::string const row =
       R"({"handle":1,"status":"programmed","dst":"10.0.0.1","src":"10.0.0.2","vrf":0,)";
   std::string const page = R"({"v":2,"code":"OK","entries":[)";
   for (
       std::string const& line : std::vector<std::string>{
           page + row + R"("action":"onMiss"}],"last":false} )",
           page + row + R"("action":"onMiss"}],"last":false,"total":3})",
           page + row +
               R"("action":"hit","rwId":2,"keyId":1,"prot":6,"frag":0,"nextHop":7}],"last":false})",
           page + row +
               R"("action":"hit","keyId":1,"rwId":2,"prot":6,"frag":0,"ecmpGroup":7}],"last":false})",
           page + row + R"("action":"onMiss"}],"last":true,"matching":1,"total":1})",
           page + R"({"handle":4294967296,"status":"programmed","action":"onMiss"}],"last":false})",
           page + R"({"handle":1,"status":"lost","action":"onMiss"}],"last":false})",
           page + R"({"handle":1,"status":"resynced","action":null}],"last":false})",
           R"({"v":2,"code":"OK","message":"m","entries":[],"last":true,"matching":0,"total":0,"default":null})",
           R"({"v":2,"code":"UNAVAILABLE","message":"busy"})",
       }) {
      SCOPED_TRACE(line);
      Page quick, viaBoth, full;
      EXPECT_FALSE(readCanonicalPage(line, quick));
      EXPECT_EQ(outcome([&] {
                   parsePage(line, viaBoth);
                   return encoded(viaBoth);
                }),
                outcome([&] {
                   parsePageInFull(line, full);
                   return encoded(full);
                }));
   }
}

}  // namespace
}  // namespace TwiceNatServiceTest
