#include "simulator/journal.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "simulator/environment.h"
#include "simulator/settings.h"

namespace halvorn::simulator {
namespace {

std::mutex g_journal_mutex;

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Longer values are cut; the longest real one is a 16-byte dump.
constexpr std::size_t kValueCapacity = 160;

}  // namespace

JournalLine::JournalLine(const char* entry) {
  std::snprintf(text_, kCapacity, "%s", entry);
  length_ = std::strlen(text_);
}

JournalLine& JournalLine::Field(const char* key, const char* value) {
  const int written = std::snprintf(text_ + length_, kCapacity - length_, " %s=%s", key, value);
  if (written > 0 && static_cast<std::size_t>(written) < kCapacity - length_) {
    length_ += static_cast<std::size_t>(written);
  } else {
    text_[length_] = '\0';
  }
  return *this;
}

JournalLine& JournalLine::Decimal(const char* key, std::int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRId64, value);
  return Field(key, text);
}

JournalLine& JournalLine::Hex(const char* key, std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*" PRIX32, digits, value);
  return Field(key, text);
}

JournalLine& JournalLine::Bytes(const char* key, const std::uint8_t* bytes, std::size_t count) {
  if (bytes == nullptr) return Field(key, "null");
  char text[kValueCapacity];
  std::size_t length = 0;
  for (std::size_t i = 0; i < count && length + 2 < sizeof text; ++i) {
    text[length++] = kHexDigits[bytes[i] >> 4];
    text[length++] = kHexDigits[bytes[i] & 0x0F];
  }
  text[length] = '\0';
  return Field(key, text);
}

JournalLine& JournalLine::Text(const char* key, const char* value, std::size_t max_chars) {
  if (value == nullptr) return Field(key, "null");
  char text[kValueCapacity];
  std::size_t length = 0;
  for (; length < max_chars && length + 1 < sizeof text && value[length] != '\0'; ++length) {
    const char c = value[length];
    text[length] = (c > ' ' && c < 0x7F && c != '=') ? c : '?';
  }
  text[length] = '\0';
  return Field(key, text);
}

JournalLine& JournalLine::Address(const char* key, const void* address) {
  if (address == nullptr) return Field(key, "null");
  char text[24];
  std::snprintf(text, sizeof text, "0x%08" PRIXPTR, reinterpret_cast<std::uintptr_t>(address));
  return Field(key, text);
}

JournalLine& JournalLine::Word(const char* key, const char* word) { return Field(key, word); }

void AppendToJournal(const JournalLine& line) {
  char path[kSettingChars];
  if (!ReadEnvironment(kJournalVariable, path, sizeof path) || path[0] == '\0') return;
  char text[sizeof(JournalLine) + 1];
  std::memcpy(text, line.text(), line.length());
  text[line.length()] = '\n';
  std::lock_guard lock(g_journal_mutex);
  // Opened for each line, so a reader always finds whole lines on disk and a
  // new path takes effect at the next call.
  std::FILE* file = std::fopen(path, "ab");
  if (file == nullptr) return;
  std::fwrite(text, 1, line.length() + 1, file);
  std::fflush(file);
  std::fclose(file);
}

}  // namespace halvorn::simulator
