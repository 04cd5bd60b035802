#include "simulator/sample_source.h"

#include "simulator/counting_source.h"

namespace halvorn::simulator {

std::unique_ptr<SampleSource> MakeSampleSource(SourceKind) { return std::make_unique<CountingSource>(); }

}  // namespace halvorn::simulator
