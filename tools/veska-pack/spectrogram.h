// A picture of a preview: time left to right, pitch bottom to top on a
// logarithmic scale, loudness as colour, with the load phases marked.
#ifndef VESKA_TOOLS_VESKA_PACK_SPECTROGRAM_H_
#define VESKA_TOOLS_VESKA_PACK_SPECTROGRAM_H_

#include <string>
#include <vector>

#include "preview.h"

namespace veska::pack {

// Where each phase begins, in seconds (the first at 0).
bool WriteSpectrogramPng(const Preview& preview,
                         const std::vector<double>& phase_starts,
                         const std::string& path, std::string* error);

}  // namespace veska::pack

#endif  // VESKA_TOOLS_VESKA_PACK_SPECTROGRAM_H_
