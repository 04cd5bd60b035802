// The journal: one line per entry call, "<Entry> key=value ...", appended to
// the file HALVORNSIM_JOURNAL names (nothing when unset), so tests see what
// the hardware saw.
#pragma once

#include <cstddef>
#include <cstdint>

namespace halvorn::simulator {

// Builds one line in a fixed buffer: no allocation, values never contain
// blanks, so every key=value stays one word. A line that would overflow is
// cut at the last whole field.
class JournalLine {
 public:
  explicit JournalLine(const char* entry);

  JournalLine& Decimal(const char* key, std::int64_t value);
  // "0x" and `digits` upper-case hex digits.
  JournalLine& Hex(const char* key, std::uint32_t value, int digits);
  // Upper-case hex, two digits a byte, no separators; "null" for no bytes.
  JournalLine& Bytes(const char* key, const std::uint8_t* bytes, std::size_t count);
  // At most `max_chars` characters of a zero-terminated text, anything that
  // is not a printable non-blank character shown as '?'; "null" for none.
  JournalLine& Text(const char* key, const char* text, std::size_t max_chars);
  // "0x" and the address in hex, or "null".
  JournalLine& Address(const char* key, const void* address);
  JournalLine& Word(const char* key, const char* word);
  JournalLine& InjectedFailure() { return Word("injected", "fail"); }

  const char* text() const { return text_; }
  std::size_t length() const { return length_; }

 private:
  JournalLine& Field(const char* key, const char* value);

  static constexpr std::size_t kCapacity = 480;
  char text_[kCapacity];
  std::size_t length_ = 0;
};

// Appends the line and a line feed to the journal file in one write, under a
// lock shared by all threads, and flushes it.
void AppendToJournal(const JournalLine& line);

}  // namespace halvorn::simulator
