#pragma once
// Helpers shared by the agent service tests: a counted match spec and key table files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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
      for (char& c : name) {
         if (c == '/') c = '_';
      }
      path_ = testing::TempDir() + "twicenat_keys_" + std::to_string(::getpid()) + "_" + name;
      TwiceNatAgent::KeyTable::destroy(path_);
   }
   ~TablePath() { TwiceNatAgent::KeyTable::destroy(path_); }
   std::string const& str() const { return path_; }

 private:
   std::string path_;
};

// Writes `value` over the file's bytes at `offset`, past any mapping of it.
template <class T>
void writeAt(std::string const& path, std::size_t offset, T value) {
   int fd = ::open(path.c_str(), O_RDWR);
   ASSERT_GE(fd, 0) << path;
   ASSERT_EQ(::pwrite(fd, &value, sizeof value, static_cast<off_t>(offset)),
             static_cast<ssize_t>(sizeof value));
   ::close(fd);
}

inline void flipByte(std::string const& path, std::size_t offset) {
   int fd = ::open(path.c_str(), O_RDWR);
   ASSERT_GE(fd, 0) << path;
   unsigned char b = 0;
   ASSERT_EQ(::pread(fd, &b, 1, static_cast<off_t>(offset)), 1);
   b ^= 0xFF;
   ASSERT_EQ(::pwrite(fd, &b, 1, static_cast<off_t>(offset)), 1);
   ::close(fd);
}

}  // namespace TwiceNatAgentTest
