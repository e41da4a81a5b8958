#pragma once
// Helpers shared by the agent service tests: a counted match spec and key table files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "BfTwiceNatAddrOnly/platform/BfnTable.h"
#include "agent/KeyTable.h"

namespace TwiceNatAgentTest {

class TestMatch : public BfnTable::MatchSpecBase {
 public:
   using Ptr = Pemra::Ptr<TestMatch>;
   static Ptr testMatchIs() { return Ptr(new TestMatch); }
   ZIN_ALLOCATED(TestMatch)

 protected:
   ~TestMatch() override = default;
};

// A key table path unique to the running test, removed before and after it.
class TablePath {
 public:
   TablePath() {
      auto const* info = testing::UnitTest::GetInstance()->current_test_info();
      std::string name = std::string(info->test_suite_name()) + "_" + info->name();
      std::replace(name.begin(), name.end(), '/', '_');
      path_ = testing::TempDir() + "twicenat_keys_" + std::to_string(::getpid()) + "_" + name;
      TwiceNatAgent::KeyTable::destroy(path_);
   }
   ~TablePath() { TwiceNatAgent::KeyTable::destroy(path_); }
   std::string const& str() const { return path_; }

 private:
   std::string path_;
};

// Inverts one byte of the file, past any mapping of it.
inline void flipByte(std::string const& path, std::size_t offset) {
   std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
   ASSERT_TRUE(f.seekg(std::streamoff(offset))) << path;
   char b = char(f.get());
   f.seekp(std::streamoff(offset));
   f.put(char(~b));
}

}  // namespace TwiceNatAgentTest
