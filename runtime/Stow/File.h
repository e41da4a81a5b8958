#pragma once
// A state file's owning descriptor, and the error of a system call on one.
#include <sys/stat.h>

#include <cstddef>
#include <initializer_list>
#include <string>

#include "Zin/Exception.h"

namespace Stow {

// A system call on a state file failed. The text says what could not be done and why
// ("cannot be opened: No such file or directory") without naming the file: the owner of the
// file puts its own name for it in front.
class IoError : public Zin::Exception {
 public:
   IoError(std::string const& what, int code);
   // A refusal that is no system call's: `text` as it is.
   struct Refusal {};
   IoError(std::string const& text, int code, Refusal) : Zin::Exception(text), code_(code) {}
   int code() const { return code_; }

 private:
   int code_;
};

class File {
 public:
   File() = default;
   ~File();
   File(File&& other) noexcept;
   File& operator=(File&& other) noexcept;
   File(File const&) = delete;
   File& operator=(File const&) = delete;

   // An existing file, for reading or for reading and writing. IoError.
   static File open(std::string const& path, bool writable);
   // A new file of mode 0600; IoError (EEXIST) when the name is taken.
   static File create(std::string const& path);

   int fd() const { return fd_; }
   struct ::stat status() const;
   // Reads `bytes` at `offset`; false when the file holds fewer.
   bool readAt(void* into, std::size_t bytes, std::size_t offset) const;
   // Allocates the file's first `bytes` on its file system now, growing the file to that size
   // when it is smaller, so that no store through a shared mapping meets a full file system
   // (which a mapping could only report with SIGBUS). IoError (ENOSPC, EFBIG, ...).
   void reserve(std::size_t bytes) const;
   // Cuts the file to `bytes`. IoError.
   void truncate(std::size_t bytes) const;

 private:
   explicit File(int fd) : fd_(fd) {}
   int fd_ = -1;
};

// Removes the files at `paths` (a missing one is no error), or none of them: IoError (EPERM,
// "PATH is owned by uid N") when one is another user's, as a state file is removed only by its
// owner, also when root asks; IoError when one cannot be looked at or removed.
void remove(std::initializer_list<std::string> paths);

}  // namespace Stow
