#pragma once
// What the state-file fuzzers share: a scratch folder removed at exit, a valid small state file
// to mutate, and the decoding of an input into the bytes of the file to open. An input is a
// whole file (first byte even) or byte patches onto the valid state (odd: then triples of
// offset low, offset high, xor mask).
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fuzzing {

inline std::string& folder() {
   static std::string dir;
   return dir;
}

inline std::vector<char>& base() {
   static std::vector<char> bytes;
   return bytes;
}

[[noreturn]] inline void fail(char const* what, std::string const& detail) {
   std::fprintf(stderr, "fuzzer: %s: %s\n", what, detail.c_str());
   std::abort();
}

// A fresh folder for the run, removed when the process exits.
inline void folderIs(char const* prefix) {
   std::string tmpl = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
   if (!::mkdtemp(tmpl.data())) fail("no temporary folder", tmpl);
   folder() = tmpl;
   std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(folder(), ec);
   });
}

// The valid state the patches apply to: the file at `path` as it is now.
inline void baseIs(std::string const& path) {
   std::ifstream in(path, std::ios::binary);
   base().assign(std::istreambuf_iterator<char>(in), {});
}

// Writes the file that `data` stands for to `path`.
inline void writeInput(std::string const& path, uint8_t const* data, std::size_t size) {
   std::vector<char> file;
   if (size > 0 && (data[0] & 1)) {
      file = base();
      for (std::size_t i = 1; i + 2 < size; i += 3)
         file[(data[i] | std::size_t(data[i + 1]) << 8) % file.size()] ^= char(data[i + 2]);
   } else if (size > 0) {
      file.assign(data + 1, data + size);
   }
   std::ofstream(path, std::ios::binary | std::ios::trunc).write(file.data(), file.size());
}

}  // namespace fuzzing
