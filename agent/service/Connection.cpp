#include "agent/service/Connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace TwiceNatService {

Connection::Connection(int fd, std::unique_ptr<LineService::Client> client, std::string name,
                       ServerLimits const& limits, Clock::time_point now)
    : fd_(fd),
      client_(std::move(client)),
      name_(std::move(name)),
      limits_(limits),
      lastActive_(now) {}

Connection::~Connection() {
   client_.reset();  // before the socket goes, so that nothing of it outlives the client
   ::close(fd_);
}

bool Connection::receive(Clock::time_point now) {
   char chunk[65536];
   ssize_t const n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
   if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
   if (n == 0) {
      inputEnded_ = true;  // it may still read what it asked for
      return true;
   }
   if (in_.size() == inAt_) requestBegan_ = now;
   in_.append(chunk, std::size_t(n));
   lastActive_ = now;
   return true;
}

bool Connection::send(Clock::time_point now) {
   while (outAt_ < out_.size()) {
      ssize_t const n =
          ::send(fd_, out_.data() + outAt_, out_.size() - outAt_, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n <= 0) return false;
      outAt_ += std::size_t(n);
      takenInWindow_ += std::size_t(n);
      lastActive_ = now;
   }
   if (outAt_ == out_.size()) {
      out_.clear();
      outAt_ = 0;
      windowBegan_ = {};
      // A large reply's room goes back once it is sent.
      if (out_.capacity() > 4 * limits_.outputHigh) std::string().swap(out_);
   } else {
      // A reader that keeps up never empties the buffer: what it took goes, so that the
      // buffer holds what is pending and no more.
      if (outAt_ >= limits_.outputHigh) {
         out_.erase(0, outAt_);
         outAt_ = 0;
      }
      if (windowBegan_ == Clock::time_point{}) {
         windowBegan_ = now;
         takenInWindow_ = 0;
      }
   }
   return true;
}

bool Connection::completeRequest() const {
   if (in_.size() == inAt_) return false;
   std::size_t const from = inAt_ + scanned_;
   if (in_.find('\n', from) != std::string::npos) return true;
   scanned_ = in_.size() - inAt_;
   return false;
}

bool Connection::wantsInput() const {
   return !inputEnded_ && !streaming_ && !completeRequest() &&
          in_.size() - inAt_ <= limits_.maxRequestBytes &&
          out_.size() - outAt_ <= limits_.outputHigh;
}

bool Connection::hasWork() const {
   if (out_.size() - outAt_ > limits_.outputHigh) return false;
   return streaming_ || completeRequest() || in_.size() - inAt_ > limits_.maxRequestBytes;
}

Connection::Step Connection::step(Clock::time_point now) {
   if (out_.size() - outAt_ > limits_.outputHigh) return Step::idle;
   if (streaming_) {
      streaming_ = client_->more(out_);
      return Step::served;
   }
   std::size_t const nl = completeRequest() ? in_.find('\n', inAt_ + scanned_) : std::string::npos;
   if (nl == std::string::npos) {
      return in_.size() - inAt_ > limits_.maxRequestBytes ? Step::tooLong : Step::idle;
   }
   std::string_view const line = std::string_view(in_).substr(inAt_, nl - inAt_);
   streaming_ = client_->request(line, out_);
   inAt_ = nl + 1;
   scanned_ = 0;
   requestBegan_ = now;  // of the next request, if its bytes are here already
   lastActive_ = now;
   compactInput();
   return Step::served;
}

void Connection::compactInput() {
   if (inAt_ == in_.size()) {
      in_.clear();
      inAt_ = 0;
      if (in_.capacity() > 2 * limits_.maxRequestBytes) std::string().swap(in_);
   } else if (inAt_ > 65536 && inAt_ > in_.size() / 2) {
      in_.erase(0, inAt_);
      inAt_ = 0;
   }
}

std::string Connection::overdue(Clock::time_point now) {
   auto const window = limits_.window;
   if (wantsOutput() && windowBegan_ != Clock::time_point{} && now - windowBegan_ >= window) {
      if (takenInWindow_ == 0) return "took nothing of its reply for " + secondsText(window);
      if (takenInWindow_ < limits_.minTakenPerWindow) {
         return "took " + std::to_string(takenInWindow_) + " bytes of its reply in " +
                secondsText(window) + ", below " + std::to_string(limits_.minTakenPerWindow) +
                " bytes";
      }
      windowBegan_ = now;
      takenInWindow_ = 0;
   }
   if (in_.size() > inAt_ && !completeRequest() && now - requestBegan_ >= window) {
      return "sent a part of a request and not its end within " + secondsText(window);
   }
   if (client_->holdsOthersBack() && !wantsOutput() && !hasWork() && now - lastActive_ >= window) {
      return "held a batch open for " + secondsText(window) + " without a request";
   }
   return {};
}

bool Connection::timed() const {
   return wantsOutput() || in_.size() > inAt_ || client_->holdsOthersBack();
}

void Connection::farewell(std::string const& line) {
   if (!wantsOutput()) out_ += line;
   inputEnded_ = true;
   in_.clear();
   inAt_ = scanned_ = 0;
   streaming_ = false;
}

}  // namespace TwiceNatService
