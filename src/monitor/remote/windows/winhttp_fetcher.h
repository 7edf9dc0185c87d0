// HTTP through WinHTTP, a system DLL, for the remote binding on Windows.
#ifndef VESKA_MONITOR_REMOTE_WINDOWS_WINHTTP_FETCHER_H_
#define VESKA_MONITOR_REMOTE_WINDOWS_WINHTTP_FETCHER_H_

#include "monitor/remote/http_fetcher.h"

namespace veska {

class WinHttpFetcher : public HttpFetcher {
 public:
  WinHttpFetcher();
  ~WinHttpFetcher() override;
  WinHttpFetcher(const WinHttpFetcher&) = delete;
  WinHttpFetcher& operator=(const WinHttpFetcher&) = delete;

  HttpResponse Get(const HttpRequest& request) override;

 private:
  void* session_;
};

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_WINDOWS_WINHTTP_FETCHER_H_
