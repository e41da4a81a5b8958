// State files mapped into memory, and their creation.
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "Stow/Mapping.h"

namespace Stow {

Mapping::Mapping(File const& file, std::size_t bytes, Kind kind) {
   bool const shared = kind == Kind::shared;
   void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, shared ? MAP_SHARED : MAP_PRIVATE,
                    file.fd(), 0);
   if (p == MAP_FAILED)
      throw IoError("cannot be mapped (" + std::to_string(bytes) + " bytes)", errno);
   base_ = static_cast<char*>(p);
   size_ = bytes;
   durable_ = shared;
}

Mapping::Mapping(std::size_t bytes) {
   void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
   if (p == MAP_FAILED)
      throw IoError("memory cannot be mapped (" + std::to_string(bytes) + " bytes)", errno);
   base_ = static_cast<char*>(p);
   size_ = bytes;
}

Mapping::~Mapping() {
   if (base_) ::munmap(base_, size_);
}

Mapping::Mapping(Mapping&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      durable_(std::exchange(other.durable_, false)) {}

Mapping& Mapping::operator=(Mapping&& other) noexcept {
   if (this != &other) {
      if (base_) ::munmap(base_, size_);
      base_ = std::exchange(other.base_, nullptr);
      size_ = std::exchange(other.size_, 0);
      durable_ = std::exchange(other.durable_, false);
   }
   return *this;
}

Mapping createFile(std::string const& path, std::size_t bytes, bool replace,
                   std::function<void(char* base)> const& init) {
   std::string const fresh = path + ".new";
   if (!replace && ::access(path.c_str(), F_OK) == 0) throw IoError("cannot be created", EEXIST);
   // What a create cut short left.
   if (::unlink(fresh.c_str()) != 0 && errno != ENOENT) throw IoError("cannot be created", errno);
   try {
      File file = File::create(fresh);
      file.reserve(bytes);
      Mapping map(file, bytes, Mapping::Kind::shared);
      map.derivedStores();  // a kill from here to the rename leaves only the file aside
      init(map.base());
      std::atomic_signal_fence(std::memory_order_seq_cst);
      int renamed =
          replace ? ::rename(fresh.c_str(), path.c_str())
                  : ::renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
      if (renamed != 0 && !replace && errno == EINVAL) {
         // A file system without the flag: a link fails the same way when the name is taken.
         renamed = ::link(fresh.c_str(), path.c_str());
      }
      if (renamed != 0) throw IoError("cannot be renamed into place", errno);
      ::unlink(fresh.c_str());  // left only after a link
      return map;
   } catch (...) {
      ::unlink(fresh.c_str());
      throw;
   }
}

}  // namespace Stow
