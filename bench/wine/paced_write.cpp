// The floor under what recording costs: a plain WriteFile of the same bytes,
// at the same pace, from a thread that wakes as often as the recording's
// writing thread does, of the bytes a recording at RATE (as the host program
// takes it) stores a second. Run once writing and once only waking; the difference
// in the whole process's CPU time is what the system charges for putting that
// stream on the disk, with nothing of the plug-in's in it.
// The file, paced_write.bin in the current directory, is left for the caller
// to remove, as a recording is: removing it here would bill its pages to the run.
//   paced_write.exe RATE SECONDS write|idle
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/extio_host_options.h"
#include "receiver/sample_rate_table.h"
#include "recorder/wav_header.h"

namespace {

// As the recording's writing thread: ten wake-ups and writes a second.
constexpr DWORD kIntervalMs = 100;

int Usage() {
  std::fprintf(stderr, "usage: paced_write.exe RATE SECONDS write|idle\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Usage();
  const std::optional<int> row = halvorn::host::ParseRateChoice(argv[1]);
  const long long seconds = std::atoll(argv[2]);
  const bool writing = std::strcmp(argv[3], "write") == 0;
  if (!row || seconds <= 0 || (!writing && std::strcmp(argv[3], "idle") != 0)) return Usage();
  const long long bytes_per_second = static_cast<long long>(halvorn::receiver::SampleRateRowAt(*row).rate_hz) *
                                     halvorn::recorder::StoredPairBytes(*row);

  const std::size_t piece = static_cast<std::size_t>(bytes_per_second * kIntervalMs / 1000);
  std::vector<unsigned char> buffer(piece, 0x5a);
  HANDLE file = INVALID_HANDLE_VALUE;
  if (writing) {
    file = CreateFileA("paced_write.bin", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "paced_write.exe: cannot create paced_write.bin (error %lu)\n", GetLastError());
      return 1;
    }
  }
  HANDLE tick = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  unsigned long long offset = 0;
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  while (GetTickCount64() < end) {
    WaitForSingleObject(tick, kIntervalMs);
    if (!writing) continue;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (!WriteFile(file, buffer.data(), static_cast<DWORD>(piece), &done, &at) || done != piece) {
      std::fprintf(stderr, "paced_write.exe: write failed (error %lu)\n", GetLastError());
      CloseHandle(file);
      return 1;
    }
    offset += piece;
  }
  CloseHandle(tick);
  if (writing) CloseHandle(file);
  return 0;
}
