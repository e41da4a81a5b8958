// The protocol's messages: every request and reply survives its encoding, and every malformed
// request is refused with the reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/service/ReplyCodec.h"
#include "agent/service/RequestCodec.h"

namespace TwiceNatServiceTest {
namespace {

using namespace TwiceNatService;
using ::testing::HasSubstr;

MatchKey key(U32 dip, U32 sip, std::optional<U16> vrf) {
   return MatchKey{dip, sip, vrf.value_or(0), vrf.has_value()};
}

ActionValues const kHit{ActionKind::hit, 1, 2, 6, 1, 7};
ActionValues const kEcmp{ActionKind::ecmp, 65535, 0, 255, 0, 3};
ActionValues const kMiss{};

std::vector<Request> everyRequest() {
   std::vector<Request> all;
   for (Op op :
        {Op::status, Op::stop, Op::chip, Op::defaultReset, Op::commit, Op::rollback, Op::clear}) {
      all.push_back(Request{op});
   }
   for (Op op : {Op::insert, Op::modify, Op::program}) {
      Request q{op};
      q.entry = {key(0x0A000001, 0xC0A80101, 7), kHit};
      all.push_back(q);
   }
   Request r{Op::remove};
   r.entry.match = key(1, 2, std::nullopt);
   all.push_back(r);
   Request d{Op::defaultSet};
   d.entry.action = kEcmp;
   all.push_back(d);
   Request get{Op::get};
   get.keys = {key(1, 2, 3), key(4, 5, std::nullopt)};
   get.withDefault = true;
   all.push_back(get);
   Request show{Op::show};
   show.filter.key.dip = 0xFFFFFFFF;
   show.filter.key.vrf = 0;
   show.filter.action = ActionKind::onMiss;
   show.pageSize = 10000;
   all.push_back(show);
   all.push_back(Request{Op::show});
   for (BatchMode mode :
        {BatchMode::continueOnError, BatchMode::rollbackOnError, BatchMode::dryRun}) {
      Request a{Op::apply};
      a.mode = mode;
      a.updates = {{UpdateKind::insert, {key(1, 2, 3), kHit}},
                   {UpdateKind::modify, {key(1, 2, std::nullopt), kMiss}},
                   {UpdateKind::program, {key(0, 0, 65535), kEcmp}},
                   {UpdateKind::remove, {key(9, 9, 0), {}}},
                   {UpdateKind::defaultSet, {{}, kMiss}},
                   {UpdateKind::defaultSet, {{}, kHit}},
                   {UpdateKind::defaultReset, {}}};
      all.push_back(a);
      a.expect = 1'000'000;
      all.push_back(a);
      a.expect = 0;
      Request b{Op::begin};
      b.mode = mode;
      all.push_back(b);
      b.expect = ~U64(0);
      all.push_back(b);
      a.op = Op::part;
      all.push_back(a);
   }
   return all;
}

// Requests carry their own shape: the encoding of the parse of an encoding is the encoding.
TEST(ProtocolTest, EveryRequestSurvivesItsEncoding) {
   for (Request const& q : everyRequest()) {
      std::string const line = encodeRequest(q);
      SCOPED_TRACE(line);
      ASSERT_EQ(line.find('\n'), line.size() - 1);
      Request const back = parseRequest(line);
      EXPECT_EQ(back.op, q.op);
      EXPECT_EQ(back.updates.size(), q.updates.size());
      EXPECT_EQ(encodeRequest(back), line);
   }
   // Updates may also be objects of named fields.
   Request const q = parseRequest(
       R"({"v":2,"op":"apply","updates":[{"op":"program","dst":"10.0.0.1","src":"192.168.1.1",)"
       R"("vrf":7,"action":"hit","keyId":1,"rwId":2,"prot":6,"frag":1,"nextHop":7},)"
       R"({"src":"0.0.0.2","dst":"0.0.0.1","op":"delete"}]})");
   Request expected{Op::apply};
   expected.updates = {{UpdateKind::program, {key(0x0A000001, 0xC0A80101, 7), kHit}},
                       {UpdateKind::remove, {key(1, 2, std::nullopt), {}}}};
   EXPECT_EQ(encodeRequest(q), encodeRequest(expected));
}

TEST(ProtocolTest, MalformedRequestsAreRefusedWithTheReason) {
   std::string const entry = R"({"v":2,"op":"program","entry":{"src":"1.1.1.1","action":"onMiss",)";
   std::string const apply = R"({"v":2,"op":"apply","updates":)";
   std::string manyUpdates = apply + "[";
   for (std::size_t i = 0; i <= kMaxBatchUpdates; ++i)
      manyUpdates += std::string(i ? "," : "") + R"(["defaultReset"])";
   manyUpdates += "]}";
   struct Case {
      std::string line, why;
   };
   for (
       Case const& c : std::vector<Case>{
           {"hello", "not JSON (byte 1): syntax error"},
           {"[1]", "not a JSON object"},
           {R"({"v":2,"op":"status"} x)", "not JSON"},
           {R"({"op":"status"})", "request has no protocol version \"v\""},
           {R"({"v":1,"cmd":"status"})",
            "request is of protocol version 1; this agent speaks version 2"},
           {R"({"v":"2","op":"status"})", "v: a string, not a version number"},
           {R"({"v":2})", "request has no \"op\""},
           {R"({"v":2,"op":"status","op":"stop"})", "\"op\" given twice"},
           {R"({"v":2,"op":"frob"})", "op: unknown op \"frob\""},
           {R"({"v":2,"op":7})", "op: a number, not a string"},
           {R"({"v":2,"op":"status","cmd":"x"})", "unknown field \"cmd\""},
           {R"({"v":2,"op":"status","mode":"continue"})", "status takes no \"mode\""},
           {R"({"v":2,"op":"program"})", "program needs \"entry\""},
           {R"({"v":2,"op":"begin"})", "begin needs \"mode\""},
           {R"({"v":2,"op":"get"})", "get asks for nothing"},
           {R"({"v":2,"op":"show","pageSize":0})", "pageSize: not a page size from 1 to 10000"},
           {R"({"v":2,"op":"part","expect":5,"updates":[]})", "part takes no \"expect\""},
           {R"({"v":2,"op":"apply","expect":-1,"updates":[]})",
            "expect: a number, not a count of updates"},
           {R"({"v":2,"op":"show","filter":{"dst":{"a":1}}})",
            "filter.dst: nested deeper than a request goes"},
           {R"({"v":2,"op":"show","filter":{"vrf":null}})",
            "filter.vrf: null, not a value to filter by"},
           {R"({"v":2,"op":"show","filter":{"keyId":1}})", "filter: a filter takes no \"keyId\""},
           {R"({"v":2,"op":"show","entry":[]})", "entry: an object was expected"},
           {entry + R"("dst":"01.2.3.4"}})",
            "entry.dst: \"01.2.3.4\" has a part with a leading zero"},
           {entry + R"("dst":"1.2.3"}})", "entry.dst: \"1.2.3\" is not an IPv4 address A.B.C.D"},
           {entry + R"("dst":"1.2.3.256"}})", "has a part above 255"},
           {entry + R"("dst":"1.1.1.1","vrf":65536}})",
            "entry.vrf: 65536 is out of range (0 to 65535)"},
           {entry + R"("dst":"1.1.1.1","vrf":-1}})", "entry.vrf: -1 is not a whole number from 0"},
           {entry + R"("dst":"1.1.1.1","vrf":"1"}})", "entry.vrf: a string, not a number"},
           {entry + R"("dst":"1.1.1.1","dst":"1.1.1.1"}})", "\"dst\" given twice in entry"},
           {entry + R"("dst":"1.1.1.1","keyId":1}})",
            "entry: \"keyId\" given, but action onMiss takes no parameters"},
           {entry + R"("dst":"1.1.1.1","colour":1}})", "entry.colour: unknown field"},
           {entry + R"("dst":"1.1.1.1","handle":1}})", "entry.handle: unknown field"},
           {R"({"v":2,"op":"program","entry":{"dst":"1.1.1.1","action":"onMiss"}})",
            "entry has no \"src\""},
           {R"({"v":2,"op":"program","entry":{"dst":"1.1.1.1","src":"1.1.1.1","action":"jump"}})",
            "entry.action: unknown action \"jump\": use onMiss, hit or ecmp"},
           {R"({"v":2,"op":"program","entry":{"dst":"1.1.1.1","src":"1.1.1.1","action":"hit"}})",
            "entry: action hit needs \"nextHop\""},
           {R"({"v":2,"op":"program","entry":{"dst":"1.1.1.1","src":"1.1.1.1","action":"hit","nextHop":1,"ecmpGroup":1}})",
            "entry: \"ecmpGroup\" does not go with action hit"},
           {R"({"v":2,"op":"program","entry":{"dst":"1.1.1.1","src":"1.1.1.1","action":"hit","nextHop":1,"prot":256}})",
            "entry.prot: 256 is out of range (0 to 255)"},
           {R"({"v":2,"op":"delete","key":{"dst":"1.1.1.1","src":"1.1.1.1","action":"onMiss"}})",
            "key: a key takes no \"action\""},
           {R"({"v":2,"op":"defaultSet","entry":{"dst":"1.1.1.1","action":"onMiss"}})",
            "entry: defaultSet takes no \"dst\""},
           {apply + "{}}", "updates: a list was expected"},
           {apply + R"([["program","1.1.1.1"]]})",
            "updates[0]: program takes 5 (onMiss) or 10 elements, got 2"},
           {apply + R"([["frob"]]})", "updates[0][0]: not an update's op"},
           {apply + R"([[1]]})", "updates[0][0]: not an update's op"},
           {apply + R"([{"dst":"1.1.1.1"}]})", "updates[0] has no \"op\""},
           {apply + R"([["delete","1.1.1.1","2.2.2.2",null,"x"]]})",
            "updates[0][4]: an element more than delete takes"},
           {apply + R"([["defaultSet","onMiss",1]]})",
            "updates[0]: defaultSet takes 2 (onMiss) or 7 elements, got 3"},
           {apply + R"([["defaultSet","onMiss",1,2,3,4,5]]})",
            "updates[0]: \"keyId\" given, but action onMiss takes no parameters"},
           {apply + R"([7]})", "updates[0]: an object of named fields was expected"},
           {apply + R"([["defaultReset"]],"mode":"atomic"})", "mode: unknown mode \"atomic\""},
           {manyUpdates, "updates[8192]: more than 8192 in one request"},
           {R"({"v":2,"op":")" + std::string(300, 'o') + R"("})",
            "a string longer than 256 bytes in op"},
       }) {
      SCOPED_TRACE(c.line.substr(0, 200));
      try {
         parseRequest(c.line);
         ADD_FAILURE() << "taken";
      } catch (ProtocolError const& e) {
         EXPECT_THAT(e.what(), HasSubstr(c.why));
      }
   }
}

EntryRow row(U32 handle, EntryOrigin origin, EntrySpec const& e) {
   EntryRow r;
   r.handle = handle;
   r.origin = origin;
   r.entry = e;
   return r;
}

TEST(ProtocolTest, RepliesAndPagesSurviveTheirEncoding) {
   std::vector<std::pair<Op, Reply>> replies;
   Reply status;
   status.figures = {123, "/tmp/state \"x\"", 5, 1.5, 9, 2, "0.1.0"};
   replies.push_back({Op::status, status});
   Reply programmed;
   programmed.programmed = {{}, Change::added, 77, 0x10001};
   programmed.taken = key(1, 2, std::nullopt);
   replies.push_back({Op::program, programmed});
   Reply refused;
   refused.status = {Code::resourceExhausted, "full\n\"quoted\"", -9};
   replies.push_back({Op::insert, refused});
   // A refusal that quotes a client's bytes: UTF-8 stays, what is none becomes U+FFFD.
   Reply quoting;
   quoting.status = {Code::invalidArgument,
                     "op \"st\xC3\xA9tus\x91\xE2\x82\" \xF0\x9F\x98\x80\xED\xA0\x80", 0};
   replies.push_back({Op::status, quoting});
   Reply batch;
   batch.batch = {{{3, {Code::notFound, "no entry", 0}}, {5, {Code::internal, "sdk", 4}}},
                  6,
                  1,
                  2,
                  3,
                  true,
                  "undo of line 2 failed"};
   replies.push_back({Op::part, batch});
   Reply got;
   got.rows = {row(0x10001, EntryOrigin::resynced, {key(1, 2, 3), kHit}), std::nullopt,
               row(9, EntryOrigin::missingOnChip, {key(1, 2, std::nullopt), {}})};
   got.defaultRow = row(0x20001, EntryOrigin::programmed, {{}, kEcmp});
   replies.push_back({Op::get, got});
   for (auto const& [op, r] : replies) {
      std::string line;
      encodeReply(op, r, line);
      SCOPED_TRACE(line);
      EXPECT_TRUE(nlohmann::json::accept(line));
      if (r.status.message.find("st\xC3\xA9tus") != std::string::npos) {
         EXPECT_THAT(line, HasSubstr("st\xC3\xA9tus\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\\\" "
                                     "\xF0\x9F\x98\x80\xEF\xBF\xBD"));
      }
      std::string again;
      encodeReply(op, parseReply(op, line), again);
      EXPECT_EQ(again, line);
   }
   Page page;
   page.rows = {*got.rows[0], *got.rows[2]};
   page.last = true;
   page.matching = 2;
   page.total = 3;
   page.defaultRow = got.defaultRow;
   std::string line;
   encodePage(page, line);
   Page back;
   parsePage(line, back);
   std::string again;
   encodePage(back, again);
   EXPECT_EQ(again, line);
   EXPECT_EQ(back.rows.at(1).origin, EntryOrigin::missingOnChip);
   // A refusal ends a show.
   line.clear();
   Reply refusal;
   refusal.status = {Code::invalidArgument, "no", 0};
   encodeReply(Op::show, refusal, line);
   parsePage(line, back);
   EXPECT_TRUE(back.last);
   EXPECT_EQ(back.status.code, Code::invalidArgument);
   // A batch's failures are no part of a page (the reply fuzzer's find: read as a page, they
   // reached for a reply that is not there).
   EXPECT_THROW(
       parsePage(R"({"v":2,"code":"OK","failures":[{"index":13,"code":"NOT_FOUND"}]})", back),
       ProtocolError);
}

}  // namespace
}  // namespace TwiceNatServiceTest
