// WriteBlock runs for every block on the delivery thread: it must not
// allocate. This program counts the allocations each thread makes.
#include <cstdlib>
#include <new>

#include "tests/support/counting_host.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_user_interface.h"
#include "tests/unit/recorder_test_support.h"

namespace {
thread_local std::size_t t_allocations = 0;
}

void* operator new(std::size_t size) {
  ++t_allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace halvorn::recorder {
namespace {

class RecorderAllocationTest : public ::testing::TestWithParam<int>, protected testing::RecordingReceiverFixture {};

TEST_P(RecorderAllocationTest, WritingBlocksAllocatesNothing) {
  ChooseRate(GetParam());
  RecorderOptions options;
  options.directory = MakePlatformRecordingDirectory(scratch_.path().string());
  Recorder recorder(receiver_, host_, ui_, view_, trace_, std::move(options));
  ASSERT_EQ(recorder.StartRecording(), std::nullopt);
  const std::vector<std::uint8_t> block = testing::CountingBlock(0);

  const std::size_t counted = t_allocations;
  static int* volatile escaped;
  escaped = new int(1);
  delete escaped;
  ASSERT_EQ(t_allocations, counted + 1) << "allocations are not being counted";

  const std::size_t before = t_allocations;
  for (int i = 0; i < 1000; ++i) recorder.WriteBlock(block.data(), kBlockPairs);
  const std::size_t during = t_allocations - before;

  recorder.StopRecording();
  EXPECT_EQ(during, 0u);
  EXPECT_EQ(testing::SampleBytes(scratch_ / scratch_.Names().at(0)).size(),
            1000u * (GetParam() == 4 ? 4096 : 6144));
}

INSTANTIATE_TEST_SUITE_P(Rows, RecorderAllocationTest, ::testing::Values(0, 4));

}  // namespace
}  // namespace halvorn::recorder
