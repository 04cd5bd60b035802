// Reads the simulated receiver's journal: one line per call into the library,
// "<Entry> key=value key=value ...", so tests see what the hardware saw.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace halvorn::testing {

struct JournalLine {
  std::string entry;
  std::map<std::string, std::string> fields;

  const std::string& operator[](const std::string& key) const {
    static const std::string kEmpty;
    auto it = fields.find(key);
    return it == fields.end() ? kEmpty : it->second;
  }
  long long Number(const std::string& key) const { return std::stoll((*this)[key], nullptr, 0); }

  // One line's text, without its line end; words without "=" are skipped.
  static JournalLine Parse(const std::string& text) {
    std::istringstream words(text);
    JournalLine line;
    words >> line.entry;
    std::string word;
    while (words >> word) {
      const auto equals = word.find('=');
      if (equals == std::string::npos) continue;
      line.fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    return line;
  }
};

class Journal {
 public:
  explicit Journal(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  std::vector<JournalLine> Lines() const {
    std::vector<JournalLine> lines;
    std::ifstream in(path_);
    std::string text;
    while (std::getline(in, text)) {
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (text.empty()) continue;
      lines.push_back(JournalLine::Parse(text));
    }
    return lines;
  }

  std::vector<JournalLine> Calls(const std::string& entry) const {
    std::vector<JournalLine> calls;
    for (auto& line : Lines()) {
      if (line.entry == entry) calls.push_back(std::move(line));
    }
    return calls;
  }

  std::vector<std::string> Entries() const {
    std::vector<std::string> entries;
    for (const auto& line : Lines()) entries.push_back(line.entry);
    return entries;
  }

  void Clear() const { std::ofstream(path_, std::ios::trunc); }

 private:
  std::string path_;
};

// The journal read as it grows.
class JournalFollower {
 public:
  explicit JournalFollower(std::string path) : path_(std::move(path)) {}

  // The complete lines written since the last call.
  std::vector<JournalLine> NewLines() {
    std::vector<JournalLine> lines;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return lines;
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string text;
    while (std::getline(in, text)) {
      if (in.eof()) break;  // no newline yet: the line is still being written
      offset_ += text.size() + 1;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (text.empty()) continue;
      lines.push_back(JournalLine::Parse(text));
    }
    return lines;
  }

 private:
  std::string path_;
  std::size_t offset_ = 0;
};

}  // namespace halvorn::testing
