#include "agent/p4rt/Bytestrings.h"

namespace TwiceNatP4rt {

RpcError decodeBits(std::string_view bytes, U32 width, U32& value, std::string_view kind,
                    std::string_view name) {
   auto what = [&] { return std::string(kind) + std::string(name); };
   if (bytes.empty()) {
      return refused(Rpc::OUT_OF_RANGE, what() + " is an empty byte string");
   }
   std::size_t i = 0;
   while (i + 1 < bytes.size() && bytes[i] == 0)
      ++i;
   U64 v = 0;
   if (bytes.size() - i <= 5) {
      for (; i < bytes.size(); ++i)
         v = v << 8 | U8(bytes[i]);
   } else {
      v = ~U64(0);  // more than 32 significant bits
   }
   if (width < 64 && v >> width) {
      return refused(Rpc::OUT_OF_RANGE,
                     what() + " does not fit in its " + std::to_string(width) + " bits");
   }
   value = U32(v);
   return {};
}

void encodeBits(U32 value, std::string& out) {
   char bytes[4];
   int n = 0;
   do {
      bytes[3 - n++] = char(value & 0xFF);
      value >>= 8;
   } while (value != 0);
   out.assign(bytes + 4 - n, std::size_t(n));
}

}  // namespace TwiceNatP4rt
