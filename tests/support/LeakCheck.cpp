// Test main shared by every suite: after each test, every class's live object count must be
// back to what it was before the test began.
#include <gtest/gtest.h>

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
         auto it = before_.find(std::string(c.className));
         long long was = it == before_.end() ? 0 : it->second;
         EXPECT_EQ(c.liveObjects, was) << "live objects of " << c.className << " after "
                                       << info.test_suite_name() << "." << info.name();
      }
   }

 private:
   std::map<std::string, long long> before_;
};

}  // namespace

int main(int argc, char** argv) {
   testing::InitGoogleTest(&argc, argv);
   testing::GTEST_FLAG(death_test_style) = "threadsafe";
   // Ahead of the result printer, so that a leak turns the test's own line red.
   auto& listeners = testing::UnitTest::GetInstance()->listeners();
   auto* printer = listeners.Release(listeners.default_result_printer());
   listeners.Append(new LeakListener);
   listeners.Append(printer);
   return RUN_ALL_TESTS();
}
