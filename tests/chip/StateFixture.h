#pragma once
// File-backed chips for the state tests: a scratch folder per test, and the chip's whole
// observable state as one comparable text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "chip/Chip.h"
#include "chip/ChipException.h"
#include "support/Scratch.h"

namespace chiptest {

class StateFolder : public testing::Test {
 public:
   std::string file(std::string const& name = "chip") const { return dir + "/" + name; }

   static std::vector<char> bytesOf(std::string const& path) {
      std::ifstream in(path, std::ios::binary);
      return {std::istreambuf_iterator<char>(in), {}};
   }
   static void bytesAre(std::string const& path, std::vector<char> const& bytes) {
      std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
   }

   std::string const dir = TwiceNatTest::scratchFolder("chipstate");
};

inline chip::Key keyOf(int k, uint16_t pipe = chip::kAllPipes) {
   return chip::Key{pipe, 1, uint32_t(k) * 11, uint32_t(k)};
}

inline chip::ActionRec actOf(int a) {
   chip::ActionRec r;
   r.action = a ? chip::Action::hit : chip::Action::onMiss;
   r.params[0] = uint32_t(a);
   return r;
}

// Scope, defaults and entries (by handle) as text.
inline std::string stateOf(chip::Chip const& c) {
   auto act = [](chip::ActionRec const& a) {
      std::string s = std::to_string(int(a.action));
      for (uint32_t p : a.params)
         s += "," + std::to_string(p);
      return s;
   };
   std::string out = c.scope() == chip::Scope::allPipes ? "all" : "single";
   out += " d" + act(c.defaultAction(chip::kAllPipes));
   for (uint16_t p = 0; p < c.pipes(); ++p)
      out += " d" + act(c.defaultAction(p));
   std::vector<chip::EntryView> all;
   c.forEachEntry([&](chip::EntryView const& e) { all.push_back(e); });
   std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.handle < b.handle; });
   for (auto const& e : all) {
      char buf[64];
      std::snprintf(buf, sizeof buf, " %x:%u/%u/%u/%u=", e.handle, e.key.pipe, e.key.vrf, e.key.dip,
                    e.key.sip);
      out += buf + act(e.act);
   }
   out += " n" + std::to_string(c.count());
   return out;
}

}  // namespace chiptest
