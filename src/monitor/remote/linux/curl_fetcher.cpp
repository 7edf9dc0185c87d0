#include "monitor/remote/linux/curl_fetcher.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <cstdio>
#include <mutex>

namespace veska {
namespace {

struct Transfer {
  const HttpRequest* request;
  HttpResponse* response;
  bool too_long = false;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  std::string& body = transfer->response->body;
  if (body.size() + bytes > transfer->request->max_bytes) {
    transfer->too_long = true;
    return 0;  // ends the transfer
  }
  body.append(data, bytes);
  return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* transfer = static_cast<Transfer*>(user);
  const std::atomic<bool>* cancel = transfer->request->cancel;
  return cancel != nullptr && cancel->load() ? 1 : 0;
}

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

CurlFetcher::CurlFetcher() {
  InitOnce();
  handle_ = curl_easy_init();
}

CurlFetcher::~CurlFetcher() {
  if (handle_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(handle_));
}

HttpResponse CurlFetcher::Get(const HttpRequest& request) {
  HttpResponse response;
  CURL* curl = static_cast<CURL*>(handle_);
  if (curl == nullptr) {
    response.error = "no HTTP client";
    return response;
  }
  curl_easy_reset(curl);
  Transfer transfer{&request, &response};
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // A redirect could carry the credentials elsewhere.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long{request.timeout_ms});
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long{request.timeout_ms});
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  // Loopback never goes through a proxy named in the environment.
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, request.verify_tls ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, request.verify_tls ? 2L : 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  if (!request.token.empty()) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BEARER);
    curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, request.token.c_str());
  } else if (!request.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.c_str());
  }
  const CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK) {
    response.body.clear();
    // The library's own text names no URL and no credential.
    response.error =
        transfer.too_long ? "answer too long" : curl_easy_strerror(code);
    return response;
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  response.received = true;
  return response;
}

bool WarnIfReadableByOthers(const char* path, bool holds_secret,
                            std::FILE* messages) {
  struct stat info;
  if (!holds_secret || ::stat(path, &info) != 0 ||
      (info.st_mode & (S_IRGRP | S_IROTH)) == 0 || messages == nullptr) {
    return false;
  }
  std::fprintf(messages,
               "VESKA: %s holds a password or token and others may read it; "
               "chmod 600 %s keeps it yours.\n",
               path, path);
  std::fflush(messages);
  return true;
}

}  // namespace veska
