#include "agent/cli/ProgressBar.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace TwiceNatCli {

namespace {

constexpr std::size_t kWidth = 28;
constexpr auto kRedraw = std::chrono::milliseconds(62);
// Back to the line's start, and the rest of the line cleared.
constexpr char kClear[] = "\r\x1b[K";

std::string duration(double seconds) {
   auto const s = static_cast<unsigned long long>(seconds + 0.5);
   char text[32];
   if (s >= 3600) {
      std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
   } else {
      std::snprintf(text, sizeof text, "%llu:%02llu", s / 60, s % 60);
   }
   return text;
}

}  // namespace

ProgressBar::ProgressBar(std::size_t total, std::string_view unit)
    : ProgressBar(total, std::cerr, ::isatty(2), unit) {}

ProgressBar::ProgressBar(std::size_t total, std::ostream& out, bool drawn, std::string_view unit)
    : total_(total), out_(out), drawn_(drawn && total > 0), unit_(unit) {}

void ProgressBar::update(std::size_t done, Clock::time_point now) {
   if (!started_) {
      start_ = now;
      started_ = true;
   } else if (done != total_ && now - last_ < kRedraw) {
      return;
   }
   last_ = now;
   if (!drawn_) return;
   shown_ = line(done, now);
   out_ << kClear << shown_ << std::flush;
}

void ProgressBar::print(std::string_view text) {
   if (text.empty()) return;
   if (drawn_ && !shown_.empty()) {
      out_ << kClear << text << shown_ << std::flush;
   } else {
      out_ << text << std::flush;
   }
}

void ProgressBar::finish() {
   if (drawn_ && !shown_.empty()) out_ << kClear << std::flush;
   shown_.clear();
}

std::string ProgressBar::line(std::size_t done, Clock::time_point now) const {
   std::string bar(done * kWidth / total_, '#');
   bar.resize(kWidth, '.');
   char text[128];
   int n = std::snprintf(text, sizeof text, "[%s] %3zu%% %zu/%zu %s", bar.c_str(),
                         done * 100 / total_, done, total_, unit_.c_str());
   double const seconds = std::chrono::duration<double>(now - start_).count();
   if (done > 0 && seconds > 0) {
      double const rate = double(done) / seconds;
      std::snprintf(text + n, sizeof text - std::size_t(n), "  %.0f %s/s  %s left", rate,
                    unit_.c_str(), duration(double(total_ - done) / rate).c_str());
   }
   return text;
}

}  // namespace TwiceNatCli
