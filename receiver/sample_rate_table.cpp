#include "receiver/sample_rate_table.h"

namespace halvorn::receiver {

const std::uint8_t kDescriptorRecords[kSampleRateCount][kDescriptorBytes] = {
    {0x80, 0x02, 21, 1, 0, 24, 0, 0},   // 640
    {0x40, 0x01, 21, 2, 1, 24, 0, 0},   // 320
    {0xA0, 0x00, 21, 4, 2, 24, 0, 0},   // 160
    {0x50, 0x00, 21, 8, 3, 24, 0, 0},   // 80
    {0x28, 0x00, 21, 16, 4, 24, 0, 0},  // 40
    {0x48, 0x03, 31, 1, 5, 24, 0, 0},   // 840
    {0x80, 0x06, 31, 1, 6, 24, 0, 0},   // 1664
    {0x40, 0x03, 31, 1, 7, 24, 0, 0},   // 832
    {0xA0, 0x01, 31, 2, 8, 24, 0, 0},   // 416
};

const std::array<SampleRateRow, kSampleRateCount> kSampleRateTable = {{
    {"halvorn125k24v21", kDescriptorRecords[0], 125000, 1},
    {"halvorn250k24v21", kDescriptorRecords[1], 250000, 2},
    {"halvorn500k24v21", kDescriptorRecords[2], 500000, 4},
    {"halvorn1m24v21", kDescriptorRecords[3], 1000000, 8},
    {"halvorn2m24v21", kDescriptorRecords[4], 2000000, 16},
    {"halvorn95k24v31", kDescriptorRecords[5], 95238, 1},
    {"halvorn48k24v31", kDescriptorRecords[6], 48077, 1},
    {"halvorn96k24v31", kDescriptorRecords[7], 96154, 1},
    {"halvorn192k24v31", kDescriptorRecords[8], 192308, 2},
}};

const SampleRateRow& SampleRateRowAt(int index) {
  return kSampleRateTable[index >= 0 && index < kSampleRateCount ? index : 0];
}

}  // namespace halvorn::receiver
