#pragma once
// Helpers shared by the agent service tests: a counted match spec, and the errors of calls.
#include <string>

#include "BfTwiceNatAddrOnly/platform/BfnTable.h"
#include "agent/KeyTable.h"
#include "support/Scratch.h"

namespace TwiceNatAgentTest {

class TestMatch : public BfnTable::MatchSpecBase {
 public:
   using Ptr = Pemra::Ptr<TestMatch>;
   static Ptr testMatchIs() { return Ptr(new TestMatch); }
   ZIN_ALLOCATED(TestMatch)

 protected:
   ~TestMatch() override = default;
};

// The message of the KeyTableError that `f` throws, or "no error".
template <class F>
std::string errorOf(F&& f) {
   try {
      f();
   } catch (TwiceNatAgent::KeyTableError const& e) {
      return e.msg();
   }
   return "no error";
}

using TwiceNatTest::flipByte;
using TwiceNatTest::scratchPath;

}  // namespace TwiceNatAgentTest
