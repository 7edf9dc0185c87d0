// Machines with more than 64 logical processors split them into processor
// groups. The counter service's "Processor" object shows the processors of
// the caller's group only; its "Processor Information" object names every
// one as "group,index". These turn the program's flat processor numbers
// into those instances.
#ifndef VESKA_MONITOR_WINDOWS_PROCESSOR_GROUPS_H_
#define VESKA_MONITOR_WINDOWS_PROCESSOR_GROUPS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace veska {

// The active logical processors of each group, in group order.
std::vector<uint32_t> ActiveProcessorGroups();

// The "group,index" instance of flat processor `n` (group 0's first, then
// group 1's, ...); "" past the last processor.
std::string ProcessorInstance(const std::vector<uint32_t>& groups, uint32_t n);

// The flat processor number of a per-processor counter path
// "\OBJECT(N)\COUNTER" whose object and counter are the given names; -1
// for any other path.
int64_t PerProcessorIndex(const std::string& path, const std::string& object,
                          const std::string& counter);

}  // namespace veska

#endif  // VESKA_MONITOR_WINDOWS_PROCESSOR_GROUPS_H_
