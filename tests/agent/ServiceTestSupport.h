#pragma once
// Helpers shared by the agent service tests: a counted match spec and key table paths.
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

// A key table path of the test's own.
class TablePath {
 public:
   std::string const& str() const { return path_; }

 private:
   std::string path_ = TwiceNatTest::scratchPath("keys");
};

using TwiceNatTest::flipByte;

}  // namespace TwiceNatAgentTest
