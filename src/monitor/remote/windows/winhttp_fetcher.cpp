#include "monitor/remote/windows/winhttp_fetcher.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <memory>
#include <string>

#include "shell/win32/wide_text.h"

namespace veska {
namespace {

struct HandleCloser {
  void operator()(void* handle) const {
    if (handle != nullptr) WinHttpCloseHandle(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

std::string Base64(const std::string& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) {
      group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    }
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    text.push_back(kDigits[(group >> 18) & 63]);
    text.push_back(kDigits[(group >> 12) & 63]);
    text.push_back(i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=');
    text.push_back(i + 2 < bytes.size() ? kDigits[group & 63] : '=');
  }
  return text;
}

std::wstring AuthorizationHeader(const HttpRequest& request) {
  if (!request.token.empty()) {
    return Widen("Authorization: Bearer " + request.token);
  }
  if (!request.user.empty()) {
    return Widen("Authorization: Basic " +
                 Base64(request.user + ":" + request.password));
  }
  return {};
}

// Reads the body, refusing one past the cap; false with `error` set.
bool ReadBody(HINTERNET request_handle, const HttpRequest& request,
              HttpResponse* response) {
  for (;;) {
    if (request.cancel != nullptr && request.cancel->load()) {
      response->error = "cancelled";
      return false;
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request_handle, &available)) {
      response->error = "the answer broke off";
      return false;
    }
    if (available == 0) return true;
    if (response->body.size() + available > request.max_bytes) {
      response->error = "answer too long";
      return false;
    }
    const std::size_t at = response->body.size();
    response->body.resize(at + available);
    DWORD read = 0;
    if (!WinHttpReadData(request_handle, response->body.data() + at, available,
                         &read)) {
      response->error = "the answer broke off";
      return false;
    }
    response->body.resize(at + read);
  }
}

}  // namespace

WinHttpFetcher::WinHttpFetcher()
    : session_(WinHttpOpen(L"VESKA", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)) {
}

WinHttpFetcher::~WinHttpFetcher() {
  if (session_ != nullptr) WinHttpCloseHandle(session_);
}

HttpResponse WinHttpFetcher::Get(const HttpRequest& request) {
  HttpResponse response;
  if (session_ == nullptr) {
    response.error = "no HTTP client";
    return response;
  }
  const std::wstring url = Widen(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP &&
       parts.nScheme != INTERNET_SCHEME_HTTPS)) {
    response.error = "not an http(s) address";
    return response;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path =
      std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
      std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const int timeout = request.timeout_ms;
  WinHttpSetTimeouts(session_, timeout, timeout, timeout, timeout);
  Handle connection(WinHttpConnect(session_, host.c_str(), parts.nPort, 0));
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  Handle handle(connection == nullptr
                    ? nullptr
                    : WinHttpOpenRequest(connection.get(), L"GET", path.c_str(),
                                         nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         secure ? WINHTTP_FLAG_SECURE : 0));
  if (handle == nullptr) {
    response.error = "Couldn't connect to server";
    return response;
  }
  // On the request too: Wine keeps to no session time-out it was given.
  WinHttpSetTimeouts(handle.get(), timeout, timeout, timeout, timeout);
  DWORD receive = static_cast<DWORD>(timeout);
  WinHttpSetOption(handle.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                   &receive, sizeof receive);
  // A redirect could carry the credentials elsewhere.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(handle.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy,
                   sizeof policy);
  if (secure && !request.verify_tls) {
    DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                   SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                   SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    WinHttpSetOption(handle.get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignore,
                     sizeof ignore);
  }
  const std::wstring header = AuthorizationHeader(request);
  const DWORD started = GetTickCount();
  if (!WinHttpSendRequest(
          handle.get(),
          header.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : header.c_str(),
          header.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA,
          0, 0, 0) ||
      !WinHttpReceiveResponse(handle.get(), nullptr)) {
    // Wine gives other codes than Windows for a time-out; the clock tells.
    const bool late = GetLastError() == ERROR_WINHTTP_TIMEOUT ||
                      GetTickCount() - started >= static_cast<DWORD>(timeout);
    response.error =
        late ? "Operation timed out" : "Couldn't connect to server";
    return response;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(
      handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  if (!ReadBody(handle.get(), request, &response)) {
    response.body.clear();
    return response;
  }
  response.status = static_cast<long>(status);
  response.received = true;
  return response;
}

}  // namespace veska
