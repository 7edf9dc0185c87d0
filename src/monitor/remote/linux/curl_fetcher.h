// HTTP through libcurl, for the remote binding on Linux.
#ifndef VESKA_MONITOR_REMOTE_LINUX_CURL_FETCHER_H_
#define VESKA_MONITOR_REMOTE_LINUX_CURL_FETCHER_H_

#include "monitor/remote/http_fetcher.h"

namespace veska {

class CurlFetcher : public HttpFetcher {
 public:
  CurlFetcher();
  ~CurlFetcher() override;
  CurlFetcher(const CurlFetcher&) = delete;
  CurlFetcher& operator=(const CurlFetcher&) = delete;

  HttpResponse Get(const HttpRequest& request) override;

 private:
  void* handle_;  // reused, so connections are kept between refreshes
};

// Warns once on `messages` when `path` holds secrets and others than its
// owner may read it; true when it warned.
bool WarnIfReadableByOthers(const char* path, bool holds_secret,
                            std::FILE* messages);

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_LINUX_CURL_FETCHER_H_
