// The state files' descriptor and the crash counter.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "Stow/CrashPoint.h"
#include "Stow/File.h"

namespace Stow {

namespace detail {
uint64_t gCrashArmed = 1;
}  // namespace detail

namespace {

struct CrashCounter {
   bool read = false;  // the environment
   uint64_t at = 0;    // 0: never
   uint64_t seen = 0;
};

CrashCounter& crashCounter() {
   static CrashCounter counter;
   return counter;
}

[[noreturn]] void fail(std::string const& what, int code = errno) {
   throw IoError(what, code);
}

}  // namespace

void detail::crashCounted() {
   CrashCounter& c = crashCounter();
   if (!c.read) {
      c.read = true;
      if (char const* v = std::getenv("TWICENAT_CRASH_AT")) c.at = std::strtoull(v, nullptr, 10);
   }
   if (c.at == 0) {
      gCrashArmed = 0;
      return;
   }
   if (++c.seen == c.at) {
      ::kill(::getpid(), SIGKILL);
      ::_exit(137);  // not reached
   }
}

void crashAtIs(uint64_t n) {
   CrashCounter& c = crashCounter();
   c.read = true;
   c.at = n;
   c.seen = 0;
   detail::gCrashArmed = n != 0;
}

IoError::IoError(std::string const& what, int code)
    : Zin::Exception(what + ": " + std::strerror(code)), code_(code) {}

File::~File() {
   if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
   if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
   }
   return *this;
}

File File::open(std::string const& path, bool writable) {
   int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
   if (fd < 0) fail("cannot be opened");
   return File(fd);
}

File File::create(std::string const& path) {
   int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
   if (fd < 0) fail("cannot be created");
   return File(fd);
}

struct ::stat File::status() const {
   struct ::stat st {};
   if (::fstat(fd_, &st) != 0) fail("cannot be looked at");
   return st;
}

bool File::readAt(void* into, std::size_t bytes, std::size_t offset) const {
   auto* to = static_cast<char*>(into);
   while (bytes > 0) {
      ssize_t got = ::pread(fd_, to, bytes, off_t(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) fail("cannot be read");
      if (got == 0) return false;
      to += got;
      bytes -= std::size_t(got);
      offset += std::size_t(got);
   }
   return true;
}

// A size past the process's file-size limit is refused before the call, which would also
// raise SIGXFSZ and end the process.
void File::reserve(std::size_t bytes) const {
   struct ::rlimit limit {};
   if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
       bytes > limit.rlim_cur) {
      fail("cannot have its " + std::to_string(bytes) + " bytes reserved", EFBIG);
   }
   int e = ::posix_fallocate(fd_, 0, off_t(bytes));
   if (e != 0) fail("cannot have its " + std::to_string(bytes) + " bytes reserved", e);
}

void File::truncate(std::size_t bytes) const {
   if (::ftruncate(fd_, off_t(bytes)) != 0)
      fail("cannot be cut to " + std::to_string(bytes) + " bytes");
}

void remove(std::initializer_list<std::string> paths) {
   for (std::string const& p : paths) {
      struct ::stat st {};
      if (::lstat(p.c_str(), &st) != 0) {
         if (errno == ENOENT) continue;
         fail("cannot look at " + p);
      }
      if (st.st_uid != ::geteuid()) {
         throw IoError(p + " is owned by uid " + std::to_string(st.st_uid), EPERM,
                       IoError::Refusal{});
      }
   }
   for (std::string const& p : paths) {
      if (::unlink(p.c_str()) != 0 && errno != ENOENT) fail("cannot remove " + p);
   }
}

}  // namespace Stow
