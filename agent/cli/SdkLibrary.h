#pragma once
// The chip's SDK library as the agent loads it: dlopen()ed, so that the library's PD
// interface object binds the PD functions from the handle. Found next to the agent's own
// copy of it (the build links it in), or at TWICENAT_SDK_LIB.
#include <string>

namespace TwiceNatCli {

class SdkLibrary {
 public:
   // Throws std::runtime_error naming the path and dlerror().
   SdkLibrary();
   ~SdkLibrary();
   SdkLibrary(SdkLibrary const&) = delete;
   SdkLibrary& operator=(SdkLibrary const&) = delete;

   void* handle() const { return handle_; }
   std::string const& path() const { return path_; }

 private:
   std::string path_;
   void* handle_ = nullptr;
};

}  // namespace TwiceNatCli
