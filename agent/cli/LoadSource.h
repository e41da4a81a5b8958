#pragma once
// What `load` and `diff` read: a file, a FIFO or standard input ("-"), taken a line at a time
// in constant memory, so that input of any length streams and input that is no file of entries
// (a device that never ends, a FIFO nobody writes to) is refused instead of waited for.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "Zin/Types.h"
#include "agent/service/JsonEvents.h"

namespace TwiceNatCli {

class LoadSource final : public TwiceNatService::JsonSource {
 public:
   // No entry line is longer.
   static constexpr std::size_t kMaxLine = 65536;

   // InputError for a folder, a file that cannot be read, and a FIFO that no writer opens
   // within `wait`.
   LoadSource(std::string const& path, std::chrono::milliseconds wait);
   ~LoadSource() override;
   LoadSource(LoadSource const&) = delete;
   LoadSource& operator=(LoadSource const&) = delete;

   // "FILE" as messages name it: the path, or "-" for standard input.
   std::string const& name() const { return name_; }
   // The size of a regular file (for a progress bar); nothing for a stream.
   std::optional<U64> size() const { return size_; }
   U64 consumed() const { return consumed_; }
   // The lines of a regular file, counted ahead without moving the stream (a load tells the
   // agent how many updates to make room for); nothing for a stream or a file that fails.
   std::optional<U64> lineCount() const;

   // Whether the input is one JSON document (its first byte past blanks and a byte-order mark
   // is '{'), read by readJson() over this source, rather than lines.
   bool json();

   struct Line {
      std::string_view text;  // without its newline; valid until the next call
      U64 number = 0;         // from 1
      bool tooLong = false;   // longer than kMaxLine: its text is dropped
   };
   // The next line; false at the end. A line past kMaxLine comes back as tooLong in a regular
   // file; in any other input it is refused (InputError): such input may never end.
   bool next(Line& line);

   // JsonSource: the bytes as they come, for a JSON document.
   std::size_t next(char* buffer, std::size_t size) override;

 private:
   bool fill();  // reads more; false at the end

   std::string name_;
   int fd_ = -1;
   bool owned_ = false;
   bool regular_ = false;
   std::optional<U64> size_;
   std::string buffer_;
   std::size_t at_ = 0, end_ = 0;
   bool ended_ = false;
   bool started_ = false;  // the byte-order mark is looked for once
   U64 number_ = 0;
   U64 consumed_ = 0;
};

}  // namespace TwiceNatCli
