// The stand-in's counters of the optional resources, beside its load
// counters; the exports that handle both call these.
#ifndef VESKA_TESTS_WINDOWS_PDH_STANDIN_RESOURCE_COUNTERS_H_
#define VESKA_TESTS_WINDOWS_PDH_STANDIN_RESOURCE_COUNTERS_H_

#include <windows.h>

namespace standin {

// Whether `path` is one of the wildcard paths answered here.
bool IsResourcePath(const wchar_t* path);
// Adds the counter of `path` to `query`; a PDH status.
LONG AddResourceCounter(const void* query, const wchar_t* path,
                        HANDLE* counter);
// Collects the query's resource counters; false when it has none.
bool CollectResourceCounters(const void* query);
void CloseResourceCounters(const void* query);

}  // namespace standin

#endif  // VESKA_TESTS_WINDOWS_PDH_STANDIN_RESOURCE_COUNTERS_H_
