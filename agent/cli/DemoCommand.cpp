// demo: the whole story on a fresh private chip, once per back end.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "agent/KeyTable.h"
#include "agent/cli/Commands.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/SdkFailure.h"

namespace TwiceNatCli {

namespace {

// A temporary state folder, removed with everything in it.
struct TempFolder {
   TempFolder() {
      char const* tmp = std::getenv("TMPDIR");
      std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/twicenat-demo-XXXXXX";
      if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make " + pattern);
      path = pattern;
   }
   ~TempFolder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
   }
   std::string path;
};

class Story {
 public:
   Story(SdkLibrary const& sdk, chip::Profile const& profile, std::string keyPath)
       : sdk_(sdk),
         chip_(chip::Chip::createPrivate(profile)),
         inventory_(*chip_),
         keyPath_(std::move(keyPath)) {
      start();
   }

   void start() {
      core_.reset();
      core_ = coreOver(*chip_, inventory_, keyPath_, sdk_, false);
   }
   TwiceNatAgent::AgentCore& s() { return *core_; }
   chip::Chip& chip() { return *chip_; }

   MatchKey key(U32 dip, U32 sip, U16 vrf) {
      MatchKey k{dip, sip, vrf, s().vrfKeyField()};
      check(s().fit(k, false));
      return k;
   }
   void set(MatchKey const& k, ActionValues const& a) {
      TwiceNatAgent::Programmed const done = s().program({k, a});
      check(done.status);
      std::cout << "  " << (done.change == TwiceNatAgent::Change::added ? "added   " : "changed ")
                << keyText(k) << ": " << actionText(actionSpecOf(a)) << "\n";
   }
   void del(MatchKey const& k) {
      check(s().remove(k).status);
      std::cout << "  deleted " << keyText(k) << "\n";
   }
   std::vector<TwiceNatAgent::EntryRow> rows() {
      std::vector<TwiceNatAgent::EntryRow> all;
      for (U64 cursor = s().readPage(0, 64, {}, all); cursor;)
         cursor = s().readPage(cursor, 64, {}, all);
      std::sort(all.begin(), all.end(),
                [](auto const& a, auto const& b) { return a.handle < b.handle; });
      return all;
   }
   void table() {
      std::ostringstream out;
      printEntryTable(out, rows(), s().readDefault());
      std::istringstream lines(out.str());
      for (std::string line; std::getline(lines, line);)
         std::cout << "    " << line << "\n";
   }
   std::string text() {
      std::ostringstream out;
      printEntryText(out, rows());
      return out.str();
   }
   std::string counts() {
      return std::to_string(chip().count()) + " entries on the chip, " +
             std::to_string(s().keyTable().records) + " key records";
   }

 private:
   SdkLibrary const& sdk_;
   std::unique_ptr<chip::Chip> chip_;
   chip::ChipInventory inventory_;
   std::string keyPath_;
   std::unique_ptr<TwiceNatAgent::AgentCore> core_;
};

constexpr U32 ip(U32 a, U32 b, U32 c, U32 d) {
   return a << 24 | b << 16 | c << 8 | d;
}

ActionValues hit(U16 keyId, U16 rwId, U8 prot, U8 frag, U16 nextHop) {
   return {ActionKind::hit, keyId, rwId, prot, frag, nextHop};
}
ActionValues ecmp(U16 keyId, U16 rwId, U8 prot, U8 frag, U16 group) {
   return {ActionKind::ecmp, keyId, rwId, prot, frag, group};
}

void story(SdkLibrary const& sdk, chip::Profile const& profile, std::string const& title) {
   TempFolder state;
   std::cout << "=== " << title << " ===\n";
   Story st(sdk, profile, state.path + "/keys");
   std::cout << "agent started on a private chip (capacity " << profile.capacity << ", "
             << profile.pipes << " pipes, VRF key field " << (profile.vrfKeyField ? "yes" : "no")
             << "); table through the " << st.s().backEnd() << " back end\n";

   std::cout << "\n1. program entries of all three actions and the default\n";
   MatchKey a = st.key(ip(10, 0, 0, 1), ip(192, 168, 1, 1), 1);
   MatchKey b = st.key(ip(10, 0, 0, 2), ip(192, 168, 1, 2), 1);
   MatchKey c = st.key(ip(10, 0, 0, 3), ip(192, 168, 1, 3), 2);
   MatchKey d = st.key(ip(10, 0, 0, 4), ip(192, 168, 1, 4), 2);
   st.set(a, hit(100, 200, 6, 0, 7));
   st.set(b, ecmp(101, 201, 17, 1, 3));
   st.set(c, ActionValues{});
   st.set(d, hit(102, 202, 6, 0, 8));
   check(st.s().defaultIs(hit(1, 1, 0, 0, 1)).status);
   std::cout << "  default action set: " << actionText(actionSpecOf(hit(1, 1, 0, 0, 1))) << "\n";
   st.table();

   std::cout << "\n2. modify and delete\n";
   st.set(a, ecmp(100, 200, 6, 0, 9));
   st.set(c, hit(103, 203, 17, 0, 11));
   st.del(d);
   st.table();
   std::cout << "  " << st.counts() << "\n";

   std::cout << "\n3. restart: drop the table, create a new one over the same chip and key "
                "table\n";
   std::string before = st.text();
   st.start();
   st.table();
   std::cout << "  the resync found " << st.s().count() << " entries and "
             << (st.s().readDefault() ? "the default" : "no default") << "; text form "
             << (st.text() == before ? "identical to" : "DIFFERENT from")
             << " before the restart:\n";
   std::istringstream lines(st.text());
   for (std::string line; std::getline(lines, line);)
      std::cout << "    " << line << "\n";
   st.set(b, hit(101, 201, 17, 1, 4));  // a resynced entry is modified in place

   std::cout << "\n4. an SDK failure: the table is full (the chip holds " << profile.capacity
             << " entries)\n";
   MatchKey e = st.key(ip(10, 0, 0, 5), ip(192, 168, 1, 5), 3);
   st.set(e, hit(104, 204, 6, 0, 12));
   std::string countsBefore = st.counts(), textBefore = st.text();
   TwiceNatAgent::Programmed const refused =
       st.s().program({st.key(ip(10, 0, 0, 6), ip(192, 168, 1, 6), 3), hit(1, 2, 3, 4, 5)});
   if (refused.status.ok()) {
      std::cout << "  the add went through: the table was not full\n";
   } else {
      if (!refused.status.sdkStatus) throw CoreFailure(refused.status);
      std::cout << "  exception: " << refused.status.message << "\n";
   }
   std::cout << "  after the failure: " << st.counts() << " (before: " << countsBefore
             << "), entries " << (st.text() == textBefore ? "unchanged" : "CHANGED") << "\n";

   std::cout << "\n5. clean up: reset the default, delete the rest\n";
   check(st.s().defaultReset().status);
   std::cout << "  default action reset to onMiss\n";
   st.del(a);
   st.del(b);
   st.del(c);
   st.del(e);
   std::cout << "  " << st.counts() << "\n\n";
}

int demo(ParsedArgs const&, GlobalOptions const&) {
   SdkLibrary sdk;
   // Small enough that the story fills it: the failure step is a real refusal.
   chip::Profile bfrt;
   bfrt.capacity = 4;
   story(sdk, bfrt, "BfRt back end");
   chip::Profile pd = bfrt;
   pd.bfrt = false;
   pd.vrfKeyField = false;
   story(sdk, pd, "PD back end, table without the VRF key field");
   return kExitOk;
}

}  // namespace

Command demoCommand() {
   return {{"demo",
            "",
            "Runs the whole story on a private chip.",
            "Runs the whole story on a fresh private chip in a temporary state folder, once "
            "through the BfRt back end and once through the PD back end: programs entries of "
            "all three actions and the default, modifies and deletes some, restarts the agent "
            "and shows that the resync found everything, then fills the small chip and shows the "
            "exception of the add it refuses.",
            {}},
           demo};
}

}  // namespace TwiceNatCli
