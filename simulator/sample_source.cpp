#include "simulator/sample_source.h"

#include "simulator/counting_source.h"
#include "simulator/scene_source.h"

namespace halvorn::simulator {

std::unique_ptr<SampleSource> MakeSampleSource(SourceKind kind) {
  if (kind == SourceKind::kCounting) return std::make_unique<CountingSource>();
  if (kind == SourceKind::kBlockCounting) return std::make_unique<BlockCountingSource>();
  return std::make_unique<SceneSource>();
}

}  // namespace halvorn::simulator
