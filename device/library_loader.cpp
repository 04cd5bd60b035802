#include "device/library_loader.h"

namespace halvorn::device {

void LibraryLoader::ReleaseForGood(const Release& release) {
  const bool stopped = release.stop_input == nullptr || release.stop_input();
  if (release.close != nullptr) release.close();
  if (stopped && !release.keep_loaded) Unload(release.library);
}

}  // namespace halvorn::device
