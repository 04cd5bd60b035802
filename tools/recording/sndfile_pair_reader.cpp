// The native build reads samples through libsndfile. libsndfile believes a
// file's sizes, so it would read an unfinished recording (both sizes 0) as
// empty and a copy cut short past its end: it is shown the file through a
// view whose two sizes are the ones the chunk walker measured.
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "tools/recording/file_system.h"
#include "tools/recording/pair_encoding.h"
#include "tools/recording/pair_reader.h"

namespace halvorn::recording {
namespace {

// The file as libsndfile is shown it: cut after its last whole pair, with
// the RIFF size and the data size that fit that length.
class MeasuredView {
 public:
  MeasuredView(std::FILE* file, const RecordingInfo& info)
      : file_(file),
        length_(static_cast<sf_count_t>(info.data_offset + info.frames() * info.format.block_align)),
        data_size_at_(static_cast<sf_count_t>(info.data_offset - 4)),
        riff_size_(Field(info.data_offset - 8 + info.frames() * info.format.block_align)),
        data_size_(Field(info.frames() * info.format.block_align)) {}
  ~MeasuredView() { std::fclose(file_); }
  MeasuredView(const MeasuredView&) = delete;
  MeasuredView& operator=(const MeasuredView&) = delete;

  static SF_VIRTUAL_IO Callbacks() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* view) { return static_cast<MeasuredView*>(view)->length_; };
    io.seek = [](sf_count_t offset, int whence, void* view) { return static_cast<MeasuredView*>(view)->Seek(offset, whence); };
    io.read = [](void* out, sf_count_t count, void* view) { return static_cast<MeasuredView*>(view)->Read(out, count); };
    io.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
    io.tell = [](void* view) { return static_cast<MeasuredView*>(view)->position_; };
    return io;
  }

 private:
  static std::array<unsigned char, 4> Field(std::uint64_t value) {
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  }

  sf_count_t Seek(sf_count_t offset, int whence) {
    const sf_count_t base = whence == SEEK_CUR ? position_ : whence == SEEK_END ? length_ : 0;
    position_ = std::clamp<sf_count_t>(base + offset, 0, length_);
    return position_;
  }

  sf_count_t Read(void* out, sf_count_t count) {
    count = std::clamp<sf_count_t>(count, 0, length_ - position_);
    if (!SeekTo(file_, static_cast<std::uint64_t>(position_))) return 0;
    const auto got = static_cast<sf_count_t>(std::fread(out, 1, static_cast<std::size_t>(count), file_));
    Patch(static_cast<unsigned char*>(out), got, 4, riff_size_);
    Patch(static_cast<unsigned char*>(out), got, data_size_at_, data_size_);
    position_ += got;
    return got;
  }

  // Puts `field`, which lies at `at` in the file, over the bytes just read.
  void Patch(unsigned char* bytes, sf_count_t count, sf_count_t at, const std::array<unsigned char, 4>& field) const {
    for (sf_count_t i = std::max(at, position_); i < std::min(at + 4, position_ + count); ++i) {
      bytes[i - position_] = field[static_cast<std::size_t>(i - at)];
    }
  }

  std::FILE* file_;
  const sf_count_t length_;
  const sf_count_t data_size_at_;
  const std::array<unsigned char, 4> riff_size_;
  const std::array<unsigned char, 4> data_size_;
  sf_count_t position_ = 0;
};

class SndfilePairReader : public PairReader {
 public:
  SndfilePairReader(std::unique_ptr<MeasuredView> view, SNDFILE* file, std::uint64_t pairs)
      : PairReader(pairs), view_(std::move(view)), file_(file) {}
  ~SndfilePairReader() override { sf_close(file_); }

 private:
  std::size_t FillFloat(float* components, std::size_t pairs) override {
    return static_cast<std::size_t>(sf_readf_float(file_, components, static_cast<sf_count_t>(pairs)));
  }
  std::size_t FillShort(std::int16_t* components, std::size_t pairs) override {
    return static_cast<std::size_t>(sf_readf_short(file_, components, static_cast<sf_count_t>(pairs)));
  }

  std::unique_ptr<MeasuredView> view_;  // outlives file_, which reads through it
  SNDFILE* file_;
};

}  // namespace

std::unique_ptr<PairReader> OpenPairReader(const std::string& path, const RecordingInfo& info, std::string& error) {
  if (auto why = UnreadablePairs(info.format)) {
    error = *why;
    return nullptr;
  }
  if (info.data_offset - 8 + info.frames() * info.format.block_align > 0xFFFFFFFFu) {
    error = "its data is too long for the 32-bit sizes of a WAV file";
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot open the file";
    return nullptr;
  }
  auto view = std::make_unique<MeasuredView>(file, info);
  SF_VIRTUAL_IO io = MeasuredView::Callbacks();
  SF_INFO format{};
  SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &format, view.get());
  if (sound == nullptr) {
    error = std::string("libsndfile cannot read it: ") + sf_strerror(nullptr);
    return nullptr;
  }
  if (format.channels != 2) {
    sf_close(sound);
    error = "libsndfile reads " + std::to_string(format.channels) + " channels, not 2";
    return nullptr;
  }
  return std::make_unique<SndfilePairReader>(std::move(view), sound, info.frames());
}

}  // namespace halvorn::recording
