// Test main shared by every suite: after each test, every class's live object count must be
// back to what it was before the test began.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "Zin/Alloc.h"

namespace {

class LeakListener : public testing::EmptyTestEventListener {
 public:
   void OnTestStart(testing::TestInfo const&) override {
      before_.clear();
      for (auto const& c : Zin::allocCounts())
         before_[std::string(c.className)] = c.liveObjects;
   }
   void OnTestEnd(testing::TestInfo const& info) override {
      if (info.result()->Skipped()) return;
      for (auto const& c : Zin::allocCounts()) {
         EXPECT_EQ(c.liveObjects, before_[std::string(c.className)])  // 0 for a class new since
             << "live objects of " << c.className << " after " << info.test_suite_name() << "."
             << info.name();
      }
   }

 private:
   std::map<std::string, long long> before_;
};

// Every file a test makes goes under testing::TempDir(), which this points at one folder per
// run. A death test's child re-runs this program with the variable already set, so it shares
// the parent's folder, and the parent removes it even when the child aborted half-way.
class ScratchFolder {
 public:
   ScratchFolder() {
      if (::getenv(kOwnerVar) && ::getenv("TEST_TMPDIR")) return;
      std::string base = std::filesystem::temp_directory_path() / "twicenat_test_XXXXXX";
      if (!::mkdtemp(base.data())) return;
      path_ = base;
      owner_ = ::getpid();
      ::setenv("TEST_TMPDIR", path_.c_str(), 1);
      ::setenv(kOwnerVar, std::to_string(::getpid()).c_str(), 1);
   }
   ~ScratchFolder() {
      std::error_code ignored;
      // A forked child that exits normally must not take the parent's files with it.
      if (!path_.empty() && ::getpid() == owner_) std::filesystem::remove_all(path_, ignored);
   }

 private:
   static constexpr char const* kOwnerVar = "TWICENAT_TEST_SCRATCH_OWNER";
   std::string path_;
   pid_t owner_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
   ScratchFolder const scratch;
   testing::InitGoogleTest(&argc, argv);
   testing::GTEST_FLAG(death_test_style) = "threadsafe";
   // Ahead of the result printer, so that a leak turns the test's own line red.
   auto& listeners = testing::UnitTest::GetInstance()->listeners();
   auto* printer = listeners.Release(listeners.default_result_printer());
   listeners.Append(new LeakListener);
   listeners.Append(printer);
   return RUN_ALL_TESTS();
}
