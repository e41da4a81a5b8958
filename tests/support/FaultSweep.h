#pragma once
// One SDK call failing, with each status, inside one table operation of either back end.
#include "TableChecks.h"

namespace tabletest {

struct Fault {
   std::string call;
   // "bind", "add" (of a new match), "modify", "default" (first setting), "default again",
   // "remove", "remove default" or "read", with a match `m` held.
   std::string op;
   unsigned action;  // what the operation programs; `m` holds the next action
   // "" where no exception is due, "*" for the rule of every BfRt call, else the label of the
   // entry operation's rule.
   std::string label = {};
   bool allocates = false;  // a key is allocated before the call fails
};
inline void PrintTo(Fault const& f, std::ostream* os) {
   *os << f.op << " " << f.call;
}

// The throw follows the rule; a key allocated is freed again; the handle map (but for what a
// BfRt removal drops before its SDK call), keys and statuses stay; the request then succeeds.
inline void expectFaults(chip::Profile const& profile, Fault const& f) {
   bool const removal = f.op.starts_with("remove"), bfrt = profile.bfrt;
   for (auto const& [st, text] : kStatuses) {
      SCOPED_TRACE(testing::Message() << f.op << " " << f.call << " status " << st);
      Rig rig({.profile = profile});
      Match const m = matchOf(1, 1, 1), m2 = matchOf(2, 2, 2);
      rig.name(m, "m"), rig.name(m2, "m2");
      rig.program(m, actionOf(actionType(f.action + 1), 1, 2, 3, 4, 5));
      if (f.op == "default again" || f.op == "remove default")
         rig.program(rig.dflt(), actionOf(onMissActionSpec));
      MatchC const s = f.op == "add"                               ? m2
                       : f.op.find("default") != std::string::npos ? rig.dflt()
                                                                   : m;
      auto state = [&] {
         auto& h = rig.handles();
         return std::vector<U64>{
             h.entries(),         h.entryHas(m),    h.entry(m),          h.entryHas(rig.dflt()),
             h.entry(rig.dflt()), rig.keys->size(), rig.statuses->size()};
      };
      std::vector<U64> want = state();
      if (removal && bfrt) {
         want[0]--;
         want[s == m ? 1 : 3] = want[s == m ? 2 : 4] = 0;
      }
      TwiceNatAddrOnlyTableEntry read;
      auto op = [&] {
         if (f.op == "bind")
            rig.table->initializeTable(rig.table->helper());
         else if (f.op == "read")
            read = rig.table->entry(m);
         else if (removal)
            rig.table->entryDel(s);
         else
            rig.program(s, actionOf(actionType(f.action), 6, 7, 8, 9, 10));
      };
      rig.mark();
      chip::faultIs(f.call, st);
      Thrown const rule = f.label.empty()  ? Thrown{}
                          : f.label == "*" ? Thrown{st == 10 ? "BfTryAgain" : "BfTableException",
                                                    st, std::string("BFRT call failed: ") + text}
                                           : entryFailure(f.label, st, text, bfrt);
      EXPECT_EQ(thrownBy(op), rule);
      EXPECT_EQ(chip::journalCalls(f.call).at(0).status, st);
      EXPECT_EQ(state(), want);
      std::string const name = rig.log.names[s.ptr()];
      V const services = removal       ? V{"initStatus " + name}
                         : f.allocates ? V{"alloc 2 " + name, "free 2"}
                                       : V{};
      EXPECT_EQ(rig.ops(), services);
      EXPECT_TRUE(read.empty());
      chip::faultsClear();
      if (removal && bfrt) continue;
      EXPECT_NO_THROW(op());
      EXPECT_EQ(chip::journal().back().status, 0);
      EXPECT_EQ(read.empty(), f.op != "read");
   }
}

}  // namespace tabletest
