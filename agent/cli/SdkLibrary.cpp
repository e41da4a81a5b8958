#include "agent/cli/SdkLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>

#include "chip/Devices.h"

namespace TwiceNatCli {

namespace {

std::string sdkPath() {
   if (char const* env = std::getenv("TWICENAT_SDK_LIB"); env && *env) return env;
   // The copy the process already has mapped: the one the build's RPATH found.
   Dl_info info{};
   if (::dladdr(reinterpret_cast<void*>(&chip::attach), &info) && info.dli_fname) {
      return info.dli_fname;
   }
   return "libtwicenat_sdk.so";
}

}  // namespace

SdkLibrary::SdkLibrary() : path_(sdkPath()) {
   handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
   if (!handle_) {
      char const* err = ::dlerror();
      throw std::runtime_error("cannot load the SDK library " + path_ + ": " +
                               (err ? err : "unknown error"));
   }
}

SdkLibrary::~SdkLibrary() {
   if (handle_) ::dlclose(handle_);
}

}  // namespace TwiceNatCli
