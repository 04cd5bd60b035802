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
    {"halvorn125k24v21", kDescriptorRecords[0], 125000, 1, 120000},
    {"halvorn250k24v21", kDescriptorRecords[1], 250000, 2, 240000},
    {"halvorn500k24v21", kDescriptorRecords[2], 500000, 4, 450000},
    {"halvorn1m24v21", kDescriptorRecords[3], 1000000, 8, 800000},
    {"halvorn2m24v21", kDescriptorRecords[4], 2000000, 16, 1600000},
    {"halvorn95k24v31", kDescriptorRecords[5], 95238, 1, 88000},
    {"halvorn48k24v31", kDescriptorRecords[6], 48077, 1, 44000},
    {"halvorn96k24v31", kDescriptorRecords[7], 96154, 1, 88000},
    {"halvorn192k24v31", kDescriptorRecords[8], 192308, 2, 176000},
}};

const SampleRateRow& SampleRateRowAt(int index) {
  return kSampleRateTable[index >= 0 && index < kSampleRateCount ? index : 0];
}

}  // namespace halvorn::receiver
