#include <cstring>

#include "monitor/counter_library.h"

namespace veska {

int32_t LookupEnglishCounterName(uint32_t index, char* buffer,
                                 uint32_t* buffer_chars) {
  const char* name = nullptr;
  switch (index) {
    case 238:
      name = "Processor";
      break;
    case 6:
      name = "% Processor Time";
      break;
    case 236:
      name = "LogicalDisk";
      break;
    case 200:
      name = "% Disk Time";
      break;
    default:
      return kCounterNotFound;
  }
  if (buffer_chars == nullptr) return kCounterInvalidArgument;
  const uint32_t needed = static_cast<uint32_t>(std::strlen(name)) + 1;
  if (buffer == nullptr || *buffer_chars < needed) {
    *buffer_chars = needed;
    return kCounterMoreData;
  }
  std::memcpy(buffer, name, needed);
  *buffer_chars = needed;
  return kCounterOk;
}

}  // namespace veska
