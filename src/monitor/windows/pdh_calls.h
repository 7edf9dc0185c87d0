// The shapes of the pdh.dll calls the bindings find by name, and the cast
// from a found address to one.
#ifndef VESKA_MONITOR_WINDOWS_PDH_CALLS_H_
#define VESKA_MONITOR_WINDOWS_PDH_CALLS_H_

// The other system headers need the types <windows.h> declares.
#include <windows.h>

#include <pdh.h>
#include <pdhmsg.h>

namespace veska::pdh {

using OpenQueryCall = PDH_STATUS(WINAPI*)(LPCWSTR, DWORD_PTR, PDH_HQUERY*);
using AddCounterCall = PDH_STATUS(WINAPI*)(PDH_HQUERY, LPCWSTR, DWORD_PTR,
                                           PDH_HCOUNTER*);
using CollectCall = PDH_STATUS(WINAPI*)(PDH_HQUERY);
using FormattedValueCall = PDH_STATUS(WINAPI*)(PDH_HCOUNTER, DWORD, LPDWORD,
                                               PPDH_FMT_COUNTERVALUE);
using CounterArrayCall = PDH_STATUS(WINAPI*)(PDH_HCOUNTER, DWORD, LPDWORD,
                                             LPDWORD,
                                             PPDH_FMT_COUNTERVALUE_ITEM_W);
using CloseQueryCall = PDH_STATUS(WINAPI*)(PDH_HQUERY);
using LookupCall = PDH_STATUS(WINAPI*)(LPCWSTR, DWORD, LPWSTR, LPDWORD);

template <typename Call>
Call As(void* address) {
  return reinterpret_cast<Call>(address);
}

}  // namespace veska::pdh

#endif  // VESKA_MONITOR_WINDOWS_PDH_CALLS_H_
