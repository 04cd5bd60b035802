#include "tools/recording/raw_pair_reader.h"

#include <cstring>

#include "tools/recording/file_system.h"

namespace halvorn::recording {
namespace {

std::int32_t Signed(const unsigned char* bytes, std::size_t size) {
  // The component's bytes at the top of 32 bits, so its sign lands in bit 31.
  std::uint32_t raw = 0;
  for (std::size_t i = 0; i < size; ++i) raw |= static_cast<std::uint32_t>(bytes[i]) << (8 * (4 - size + i));
  return static_cast<std::int32_t>(raw);
}

std::size_t ComponentBytes(Encoding encoding) {
  switch (encoding) {
    case Encoding::kInt16:
      return 2;
    case Encoding::kInt24:
      return 3;
    case Encoding::kInt32:
    case Encoding::kFloat32:
      return 4;
  }
  return 4;
}

}  // namespace

std::unique_ptr<PairReader> RawPairReader::Open(const std::string& path, const RecordingInfo& info,
                                                std::string& error) {
  if (auto why = UnreadablePairs(info.format)) {
    error = *why;
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr || !SeekTo(file, info.data_offset)) {
    if (file != nullptr) std::fclose(file);
    error = "cannot open the file";
    return nullptr;
  }
  return std::unique_ptr<PairReader>(new RawPairReader(file, EncodingOf(info.format), info.frames()));
}

RawPairReader::RawPairReader(std::FILE* file, Encoding encoding, std::uint64_t pairs)
    : PairReader(pairs), file_(file), encoding_(encoding), pair_bytes_(2 * ComponentBytes(encoding)) {}

RawPairReader::~RawPairReader() { std::fclose(file_); }

std::size_t RawPairReader::ReadBytes(std::size_t pairs) {
  bytes_.resize(pairs * pair_bytes_);
  return std::fread(bytes_.data(), pair_bytes_, pairs, file_);
}

std::size_t RawPairReader::FillFloat(float* components, std::size_t pairs) {
  const std::size_t got = ReadBytes(pairs);
  const std::size_t size = pair_bytes_ / 2;
  const unsigned char* byte = bytes_.data();
  for (std::size_t i = 0; i < 2 * got; ++i, byte += size) {
    if (encoding_ == Encoding::kFloat32) {
      const std::uint32_t bits = static_cast<std::uint32_t>(Signed(byte, 4));
      std::memcpy(&components[i], &bits, sizeof bits);
    } else {
      // 2^31 is full scale at every width; the product is exact up to 24 bits.
      components[i] = static_cast<float>(Signed(byte, size)) * (1.0f / 2147483648.0f);
    }
  }
  return got;
}

std::size_t RawPairReader::FillShort(std::int16_t* components, std::size_t pairs) {
  if (encoding_ != Encoding::kInt16) return 0;
  const std::size_t got = ReadBytes(pairs);
  for (std::size_t i = 0; i < 2 * got; ++i) components[i] = static_cast<std::int16_t>(Signed(&bytes_[2 * i], 2) >> 16);
  return got;
}

}  // namespace halvorn::recording
