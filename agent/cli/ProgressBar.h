#pragma once
// A load's progress on a terminal: one line that stays drawn while the load runs (redrawn at
// most every 1/16 s) with the share done, the rate and the time left. Messages are printed
// above it, and it is drawn again under them.
#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace TwiceNatCli {

class ProgressBar {
 public:
   using Clock = std::chrono::steady_clock;

   // On stderr when it is a terminal; else only the messages are printed.
   // `unit` names what is counted: "entries", "bytes".
   explicit ProgressBar(std::size_t total, std::string_view unit = "entries");
   ProgressBar(std::size_t total, std::ostream& out, bool drawn, std::string_view unit = "entries");

   void update(std::size_t done, Clock::time_point now = Clock::now());
   // Whole lines, printed above the bar.
   void print(std::string_view text);
   // Clears the bar's line.
   void finish();

 private:
   std::string line(std::size_t done, Clock::time_point now) const;

   std::size_t total_;
   std::ostream& out_;
   bool drawn_;
   std::string unit_;
   Clock::time_point start_{};
   Clock::time_point last_{};
   bool started_ = false;
   std::string shown_;  // the bar as last drawn
};

}  // namespace TwiceNatCli
