// The network figures' parser: "net/dev" text of any shape gives a total or
// none, never reads past the text, and a total never counts loopback.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "monitor/linux/network_rate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto total = veska::NetworkRate::TotalBytes(text);
  // The same text with loopback's line added counts the same.
  const auto with_lo = veska::NetworkRate::TotalBytes(
      text + "\n  lo: 900 1 0 0 0 0 0 0 900 1 0 0 0 0 0 0\n");
  if (total.has_value() && with_lo != total) std::abort();
  return 0;
}
