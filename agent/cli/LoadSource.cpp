#include "agent/cli/LoadSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "agent/cli/Args.h"
#include "agent/cli/InputError.h"
#include "agent/service/ServerLimits.h"

namespace TwiceNatCli {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::optional<U64> LoadSource::lineCount() const {
   if (!regular_) return std::nullopt;
   std::string chunk(1 << 20, '\0');
   U64 lines = 0, at = 0;
   bool open = false;  // the last byte read ends no line
   for (;;) {
      ssize_t const n = ::pread(fd_, chunk.data(), chunk.size(), static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return std::nullopt;
      if (n == 0) break;
      char const* p = chunk.data();
      char const* const end = p + n;
      while ((p = static_cast<char const*>(std::memchr(p, '\n', std::size_t(end - p))))) {
         ++lines;
         ++p;
      }
      open = chunk[std::size_t(n) - 1] != '\n';
      at += U64(n);
   }
   return lines + (open ? 1 : 0);
}

LoadSource::LoadSource(std::string const& path, std::chrono::milliseconds wait)
    : name_(path == "-" ? "stdin" : path), buffer_(2 * kMaxLine, '\0') {
   if (path == "-") {
      fd_ = 0;
   } else {
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
         throw InputError("cannot load " + cut(path, 256) +
                          ": it is a folder, not a file of entries");
      }
      // Not blocking, so that a FIFO without a writer is waited for below, for a while only.
      fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
      if (fd_ < 0) throw InputError("cannot read " + cut(path, 256) + ": " + std::strerror(errno));
      owned_ = true;
   }
   struct stat st {};
   if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      regular_ = true;
      size_ = U64(st.st_size);
   } else if (owned_ && S_ISFIFO(st.st_mode)) {
      pollfd p{fd_, POLLIN, 0};
      int n;
      while ((n = ::poll(&p, 1, int(wait.count()))) < 0 && errno == EINTR) {
      }
      if (n == 0) {
         ::close(fd_);
         throw InputError("cannot load " + cut(path, 256) + ": no writer opened the FIFO within " +
                          TwiceNatService::secondsText(wait) + " (--timeout)");
      }
   }
   if (owned_) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

LoadSource::~LoadSource() {
   if (owned_) ::close(fd_);
}

bool LoadSource::fill() {
   if (ended_) return false;
   if (at_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + at_, end_ - at_);
      end_ -= at_;
      at_ = 0;
   }
   for (;;) {
      ssize_t const n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw InputError("cannot read " + cut(name_, 256) + ": " + std::strerror(errno));
      if (n == 0) ended_ = true;
      end_ += std::size_t(n);
      break;
   }
   if (!started_ && (end_ >= kByteOrderMark.size() || ended_)) {
      started_ = true;
      if (std::string_view(buffer_.data(), end_).substr(0, 3) == kByteOrderMark) {
         at_ = kByteOrderMark.size();
         consumed_ += at_;
      }
   }
   return !ended_ || end_ > at_;
}

bool LoadSource::json() {
   std::size_t i = at_;
   for (;;) {
      for (; started_ && i < end_; ++i) {
         char const c = buffer_[i];
         if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return c == '{';
      }
      // Blanks that fill the buffer are no JSON document either.
      if (ended_ || end_ - at_ >= buffer_.size()) return false;
      std::size_t const from = i - at_;
      fill();
      i = at_ + from;
   }
}

bool LoadSource::next(Line& line) {
   line.tooLong = false;
   std::size_t scanned = at_;
   for (;;) {
      char const* const begin = buffer_.data();
      if (started_) {
         void const* nl = std::memchr(begin + scanned, '\n', end_ - scanned);
         if (nl && std::size_t(static_cast<char const*>(nl) - begin) - at_ > kMaxLine) break;
         if (nl) {
            std::size_t const stop = std::size_t(static_cast<char const*>(nl) - begin);
            line.text = std::string_view(begin + at_, stop - at_);
            line.number = ++number_;
            consumed_ += stop + 1 - at_;
            at_ = stop + 1;
            return true;
         }
         scanned = end_;
         if (end_ - at_ > kMaxLine) break;
         if (ended_) {
            if (at_ == end_) return false;
            line.text = std::string_view(begin + at_, end_ - at_);  // no newline at the end
            line.number = ++number_;
            consumed_ += end_ - at_;
            at_ = end_;
            return true;
         }
      }
      std::size_t const from = scanned - at_;
      fill();
      scanned = at_ + from;
   }
   if (!regular_) {
      throw InputError(name_ + ":" + std::to_string(number_ + 1) + ": no newline within " +
                       std::to_string(kMaxLine) + " bytes: not a file of entries");
   }
   // A line too long to be an entry: skipped to its end.
   line.text = {};
   line.tooLong = true;
   line.number = ++number_;
   for (;;) {
      void const* nl = std::memchr(buffer_.data() + at_, '\n', end_ - at_);
      if (nl) {
         std::size_t const stop = std::size_t(static_cast<char const*>(nl) - buffer_.data());
         consumed_ += stop + 1 - at_;
         at_ = stop + 1;
         return true;
      }
      consumed_ += end_ - at_;
      at_ = end_;
      if (!fill()) return true;
   }
}

std::size_t LoadSource::next(char* out, std::size_t size) {
   if (at_ == end_ && !fill()) return 0;
   std::size_t const n = std::min(size, end_ - at_);
   std::memcpy(out, buffer_.data() + at_, n);
   at_ += n;
   consumed_ += n;
   return n;
}

}  // namespace TwiceNatCli
