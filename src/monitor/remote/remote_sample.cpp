#include "monitor/remote/remote_sample.h"

namespace veska {

HttpRequest MakeRequest(const std::string& url, const FetchSettings& settings,
                        std::size_t max_bytes) {
  HttpRequest request;
  request.url = url;
  request.token = settings.token;
  request.user = settings.user;
  request.password = settings.password;
  request.verify_tls = settings.verify_tls;
  request.timeout_ms = settings.timeout_ms;
  request.max_bytes = max_bytes;
  request.cancel = settings.cancel;
  return request;
}

std::string DescribeFailure(const HttpResponse& response) {
  if (!response.received) {
    return response.error.empty() ? "no answer" : response.error;
  }
  if (response.status == 200) return "";
  if (response.status == 401 || response.status == 403) {
    return "HTTP " + std::to_string(response.status) + ": credentials refused";
  }
  return "HTTP " + std::to_string(response.status);
}

}  // namespace veska
