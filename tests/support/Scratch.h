#pragma once
// Scratch files of a test: unique paths under testing::TempDir(), which the shared test main
// points at one folder per run and removes afterwards (also when a death test's child aborted).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

namespace TwiceNatTest {

inline std::string scratchPath(char const* what) {
   static std::atomic<unsigned> serial = 0;
   return testing::TempDir() + "tbl_" + what + "_" + std::to_string(::getpid()) + "_" +
          std::to_string(++serial);
}

// A fresh folder under the scratch folder.
inline std::string scratchFolder(char const* what) {
   std::string const dir = scratchPath(what);
   std::filesystem::create_directories(dir);
   return dir;
}

// Inverts one byte of the file, past any mapping of it.
inline void flipByte(std::string const& path, std::size_t offset) {
   std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
   ASSERT_TRUE(f.seekg(std::streamoff(offset))) << path;
   char b = char(f.get());
   f.seekp(std::streamoff(offset));
   f.put(char(~b));
}

}  // namespace TwiceNatTest
