#include "monitor/windows/processor_groups.h"

#include <windows.h>

namespace veska {

std::vector<uint32_t> ActiveProcessorGroups() {
  std::vector<uint32_t> groups;
  const WORD count = GetActiveProcessorGroupCount();
  for (WORD group = 0; group < count; ++group) {
    groups.push_back(GetActiveProcessorCount(group));
  }
  return groups;
}

std::string ProcessorInstance(const std::vector<uint32_t>& groups, uint32_t n) {
  for (size_t group = 0; group < groups.size(); ++group) {
    if (n < groups[group]) {
      return std::to_string(group) + "," + std::to_string(n);
    }
    n -= groups[group];
  }
  return "";
}

int64_t PerProcessorIndex(const std::string& path, const std::string& object,
                          const std::string& counter) {
  const std::string head = "\\" + object + "(";
  const std::string tail = ")\\" + counter;
  if (path.size() <= head.size() + tail.size() ||
      path.compare(0, head.size(), head) != 0 ||
      path.compare(path.size() - tail.size(), tail.size(), tail) != 0) {
    return -1;
  }
  const std::string number =
      path.substr(head.size(), path.size() - head.size() - tail.size());
  if (number.empty() || number.size() > 9 ||
      number.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  return std::stoll(number);
}

}  // namespace veska
