#include "agent/cli/StateLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace TwiceNatCli {

namespace {

std::string lockPath(std::string const& dir) {
   return dir + "/lock";
}

bool cannotWrite(int err) {
   return err == EACCES || err == EROFS || err == EPERM;
}

}  // namespace

StateLock::~StateLock() {
   release();
}

StateLock::StateLock(StateLock&& o) noexcept : fd_(o.fd_) {
   o.fd_ = -1;
}

StateLock& StateLock::operator=(StateLock&& o) noexcept {
   if (this != &o) {
      release();
      fd_ = o.fd_;
      o.fd_ = -1;
   }
   return *this;
}

void StateLock::release() {
   if (fd_ >= 0) ::close(fd_);  // closing the only descriptor drops the flock
   fd_ = -1;
}

StateLock::Outcome StateLock::tryTake(std::string const& dir, Mode mode) {
   release();
   std::string const path = lockPath(dir);
   int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
   int op = LOCK_EX;
   if (fd < 0 && cannotWrite(errno)) {
      if (mode == Mode::write) {
         throw std::runtime_error("cannot write the state folder " + dir + ": " +
                                  std::strerror(errno) + " (its lock file " + path + ")");
      }
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      // Without the file, or one this user may not open, nobody can lock against us.
      if (fd < 0 && (errno == ENOENT || errno == EACCES)) return Outcome::notNeeded;
      op = LOCK_SH;
   }
   if (fd < 0) {
      throw std::runtime_error("cannot open the lock file " + path + ": " + std::strerror(errno));
   }
   if (::flock(fd, op | LOCK_NB) != 0) {
      int const err = errno;
      ::close(fd);
      if (err == EWOULDBLOCK) return Outcome::busy;
      throw std::runtime_error("cannot lock " + path + ": " + std::strerror(err));
   }
   fd_ = fd;
   return Outcome::taken;
}

bool stateLockBusy(std::string const& dir) {
   int fd = ::open(lockPath(dir).c_str(), O_RDONLY | O_CLOEXEC);
   if (fd < 0) return false;
   bool const busy = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
   ::close(fd);
   return busy;
}

}  // namespace TwiceNatCli
