// One HTTP GET, behind an interface so that the portable binding includes no
// network library and each platform brings its own.
#ifndef VESKA_MONITOR_REMOTE_HTTP_FETCHER_H_
#define VESKA_MONITOR_REMOTE_HTTP_FETCHER_H_

#include <atomic>
#include <cstddef>
#include <string>

namespace veska {

struct HttpRequest {
  std::string url;
  // A bearer token, or a user and password for basic authentication.
  std::string token;
  std::string user;
  std::string password;
  bool verify_tls = true;
  int timeout_ms = 1000;
  // Bodies longer than this are refused, not truncated.
  std::size_t max_bytes = 8u << 20;
  // Set by another thread to end the request early; may be null.
  const std::atomic<bool>* cancel = nullptr;
};

struct HttpResponse {
  // True when a whole response within the limits arrived (any status).
  bool received = false;
  long status = 0;
  std::string body;
  // Why nothing usable arrived, in a few words, never with a secret.
  std::string error;
};

class HttpFetcher {
 public:
  virtual ~HttpFetcher() = default;
  // Blocks up to the request's time-out.
  virtual HttpResponse Get(const HttpRequest& request) = 0;
};

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_HTTP_FETCHER_H_
