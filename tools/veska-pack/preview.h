// What VESKA plays for a scripted load, rendered offline: the program's
// loader, load sampling, main-loop pass and mapping run on a clock that
// jumps from one wait to the next, and the mixer renders each wait.
#ifndef VESKA_TOOLS_VESKA_PACK_PREVIEW_H_
#define VESKA_TOOLS_VESKA_PACK_PREVIEW_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "load_script.h"

namespace veska::pack {

struct PreviewOptions {
  int cores = 2;
  // The program's master volume, 0 to 1; its default.
  float volume = 0.1f;
  uint32_t rate = 48000;
  // The random detune of per-core packs; the program draws a fresh seed.
  uint32_t seed = 1;
};

struct Preview {
  uint32_t rate = 0;
  std::vector<float> stereo;  // interleaved left, right; not clipped
};

// Seconds rendered so far, and the whole.
using PreviewProgress = std::function<void(double done, double total)>;

// False, with `error` said for the author, when `folder` is no soundpack.
bool RenderPreview(const std::string& folder, const LoadScript& script,
                   const PreviewOptions& options,
                   const PreviewProgress& progress, Preview* out,
                   std::string* error);

// 16-bit PCM stereo, clipped at full scale. False when it cannot be written.
bool WritePreviewWav(const Preview& preview, const std::string& path);

}  // namespace veska::pack

#endif  // VESKA_TOOLS_VESKA_PACK_PREVIEW_H_
