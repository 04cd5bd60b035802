// Reads the recordings the plug-in wrote under Wine with two readers of its
// own kind, libsndfile and sox, and holds what they decode against the blocks
// the host received meanwhile.
//
//   readback_check <directory>
//
// <directory>/manifest.txt lists one recording a line, tab-separated: the
// recording, the raw host blocks (6-byte pairs of two 24-bit components, as
// the host got them), the sample rate in Hz and the bits per sample (24, or
// 16 for the rounded form). Paths are relative to <directory>.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/stored_form.h"

namespace {

struct Entry {
  std::string recording;
  std::string host_blocks;
  long rate_hz = 0;
  int bits = 0;
};

// What one reader made of a recording: its format and every component, as
// signed values of `bits` bits, channel by channel in frame order.
struct Decoded {
  long rate_hz = 0;
  int channels = 0;
  int bits = 0;
  long long frames = 0;
  std::vector<std::int32_t> components;
};

class Failures {
 public:
  void Add(const std::string& what) {
    std::cerr << "FAILED: " << what << "\n";
    ++count_;
  }
  int count() const { return count_; }

 private:
  int count_ = 0;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t U32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

// The "data" chunk's length, found by walking the chunks; -1 when there is none.
long long DataChunkBytes(const std::vector<std::uint8_t>& file) {
  if (file.size() < 12 || std::string(file.begin(), file.begin() + 4) != "RIFF") return -1;
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const std::string id(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at) + 4);
    const std::uint32_t size = U32(file, at + 4);
    if (id == "data") return size;
    at += 8 + size + (size & 1);
  }
  return -1;
}

// What a recording of `bits` bits holds for a 24-bit component: itself, or
// its 16-bit form.
std::int32_t Stored(std::int32_t component, int bits) {
  return bits == 24 ? component : halvorn::testing::Rounded16(component);
}

Decoded ReadWithLibsndfile(const std::string& path, Failures& failures) {
  Decoded decoded;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    failures.Add("libsndfile cannot open " + path + ": " + sf_strerror(nullptr));
    return decoded;
  }
  decoded.rate_hz = info.samplerate;
  decoded.channels = info.channels;
  decoded.frames = info.frames;
  switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24: decoded.bits = 24; break;
    case SF_FORMAT_PCM_16: decoded.bits = 16; break;
    default: decoded.bits = -1; break;
  }
  if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV) failures.Add("libsndfile does not see WAV in " + path);
  // sf_read_int puts each sample in the top bits of an int.
  std::vector<int> samples(static_cast<std::size_t>(info.frames * info.channels));
  const sf_count_t read = sf_read_int(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
  if (read != static_cast<sf_count_t>(samples.size())) failures.Add("libsndfile read short in " + path);
  if (decoded.bits > 0) {
    for (int sample : samples) decoded.components.push_back(sample >> (32 - decoded.bits));
  }
  return decoded;
}

std::string Run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    if (pclose(pipe) != 0) output = "failed: " + output;
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return output;
}

std::string Quoted(const std::string& path) {
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Decoded ReadWithSox(const std::string& path, const std::string& scratch, Failures& failures) {
  Decoded decoded;
  // sox shows rates in the shortest form: 2000000 as "2e+06".
  decoded.rate_hz = std::lround(std::atof(Run("sox --i -r " + Quoted(path) + " 2>&1").c_str()));
  decoded.channels = std::atoi(Run("sox --i -c " + Quoted(path) + " 2>&1").c_str());
  decoded.bits = std::atoi(Run("sox --i -b " + Quoted(path) + " 2>&1").c_str());
  decoded.frames = std::atoll(Run("sox --i -s " + Quoted(path) + " 2>&1").c_str());
  // Decoded to 32-bit little-endian integers, which sox fills from the top
  // without dither when it widens.
  const std::string out =
      Run("sox -D " + Quoted(path) + " -t raw -e signed-integer -b 32 -L " + Quoted(scratch) + " 2>&1");
  if (!out.empty()) failures.Add("sox cannot decode " + path + ": " + out);
  const std::vector<std::uint8_t> raw = ReadBytes(scratch);
  std::remove(scratch.c_str());
  if (decoded.bits != 16 && decoded.bits != 24) return decoded;
  for (std::size_t at = 0; at + 4 <= raw.size(); at += 4) {
    decoded.components.push_back(static_cast<std::int32_t>(U32(raw, at)) >> (32 - decoded.bits));
  }
  return decoded;
}

// The first host pair, a whole block into the host blocks, from which the
// decoded components follow the host's stored form one for one; -1 if none.
long long AlignWithHost(const Decoded& decoded, const std::vector<std::int32_t>& host, int bits) {
  const std::size_t pairs = decoded.components.size() / 2;
  const std::size_t host_pairs = host.size() / 2;
  for (std::size_t start = 0; start + pairs <= host_pairs; start += halvorn::kBlockPairs) {
    std::size_t i = 0;
    while (i < decoded.components.size() && decoded.components[i] == Stored(host[2 * start + i], bits)) ++i;
    if (i == decoded.components.size()) return static_cast<long long>(start);
  }
  return -1;
}

void Check(const std::string& directory, const Entry& entry, Failures& failures) {
  const std::string path = directory + "/" + entry.recording;

  const std::vector<std::uint8_t> file = ReadBytes(path);
  const long long data_bytes = DataChunkBytes(file);
  const long long frame_bytes = entry.bits / 8 * 2;
  if (data_bytes <= 0 || data_bytes % frame_bytes != 0) {
    failures.Add(path + ": no data chunk of whole frames");
    return;
  }
  const long long frames = data_bytes / frame_bytes;
  if (frames % halvorn::kBlockPairs != 0) failures.Add(path + ": not whole blocks");

  const std::vector<std::uint8_t> raw_host = ReadBytes(directory + "/" + entry.host_blocks);
  std::vector<std::int32_t> host;
  for (std::size_t at = 0; at + 3 <= raw_host.size(); at += 3)
    host.push_back(halvorn::testing::Component24(raw_host.data() + at));

  const Decoded by_libsndfile = ReadWithLibsndfile(path, failures);
  const Decoded by_sox = ReadWithSox(path, directory + "/sox-decoded.raw", failures);
  for (const auto& [reader, decoded] : {std::pair<const char*, const Decoded&>{"libsndfile", by_libsndfile},
                                        std::pair<const char*, const Decoded&>{"sox", by_sox}}) {
    std::ostringstream seen;
    seen << decoded.rate_hz << " Hz, " << decoded.channels << " channels, " << decoded.bits << " bits, "
         << decoded.frames << " frames";
    std::ostringstream wanted;
    wanted << entry.rate_hz << " Hz, 2 channels, " << entry.bits << " bits, " << frames << " frames";
    if (seen.str() != wanted.str()) {
      failures.Add(std::string(reader) + " reads " + path + " as " + seen.str() + ", not " + wanted.str());
      continue;
    }
    if (decoded.components.size() != static_cast<std::size_t>(frames) * 2) {
      failures.Add(std::string(reader) + " decoded " + std::to_string(decoded.components.size()) + " components of " +
                   path);
      continue;
    }
    const long long first = AlignWithHost(decoded, host, entry.bits);
    if (first < 0) {
      failures.Add(std::string(reader) + ": the samples of " + path + " are no run of the host's " +
                   std::to_string(host.size() / 2) + " pairs");
      continue;
    }
    std::cout << reader << ": " << entry.recording << ": " << seen.str() << ", equal to host pairs " << first << " to "
              << first + frames - 1 << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: readback_check <directory with manifest.txt>\n";
    return 2;
  }
  const std::string directory = argv[1];
  std::ifstream manifest(directory + "/manifest.txt");
  if (!manifest) {
    std::cerr << "FAILED: no " << directory << "/manifest.txt: the recordings were not made\n";
    return 1;
  }
  Failures failures;
  int checked = 0;
  std::string line;
  while (std::getline(manifest, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::istringstream fields(line);
    Entry entry;
    std::string rate;
    std::string bits;
    if (!std::getline(fields, entry.recording, '\t') || !std::getline(fields, entry.host_blocks, '\t') ||
        !std::getline(fields, rate, '\t') || !std::getline(fields, bits, '\t')) {
      failures.Add("manifest line \"" + line + "\"");
      continue;
    }
    entry.rate_hz = std::atol(rate.c_str());
    entry.bits = std::atoi(bits.c_str());
    Check(directory, entry, failures);
    ++checked;
  }
  if (checked == 0) failures.Add("the manifest lists no recording");
  if (failures.count() > 0) {
    std::cerr << failures.count() << " failure(s)\n";
    return 1;
  }
  std::cout << checked << " recording(s) read back by libsndfile and sox as the host received them\n";
  return 0;
}
