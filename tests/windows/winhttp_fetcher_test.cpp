// The WinHTTP fetcher against a loopback server of the test's own: what it
// sends, and the limits it keeps (size, time, redirects, schemes).
#include "monitor/remote/windows/winhttp_fetcher.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace veska {
namespace {

// Answers one request per call of Serve with `answer(request)`.
class LoopbackServer {
 public:
  LoopbackServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(socket_, 4);
    int size = sizeof address;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackServer() {
    if (thread_.joinable()) thread_.join();
    closesocket(socket_);
    WSACleanup();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void Serve(std::function<std::string(const std::string&)> answer) {
    if (thread_.joinable()) thread_.join();
    thread_ = std::thread([this, answer] {
      fd_set ready;
      FD_ZERO(&ready);
      FD_SET(socket_, &ready);
      timeval wait{5, 0};
      if (select(0, &ready, nullptr, nullptr, &wait) != 1) return;
      const SOCKET client = accept(socket_, nullptr, nullptr);
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
      }
      const std::string reply = answer(request);
      send(client, reply.data(), static_cast<int>(reply.size()), 0);
      shutdown(client, SD_SEND);
      closesocket(client);
    });
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
  std::thread thread_;
};

std::string Reply(int status, const std::string& body,
                  const std::string& extra = "") {
  return "HTTP/1.1 " + std::to_string(status) +
         " X\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + extra + "\r\n" + body;
}

TEST(WinHttpFetcherTest, SendsCredentialsAndReadsWhateverTheStatus) {
  LoopbackServer server;
  WinHttpFetcher fetcher;
  std::string seen;
  server.Serve([&](const std::string& r) {
    seen = r;
    return Reply(200, "a 1\n");
  });
  HttpRequest request;
  request.url = server.Url("/api/v1/query?query=up%7Bjob%3D%22x%22%7D");
  request.token = "t0ken";
  HttpResponse response = fetcher.Get(request);
  EXPECT_TRUE(response.received) << response.error;
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "a 1\n");
  EXPECT_NE(seen.find("GET /api/v1/query?query=up%7Bjob%3D%22x%22%7D "),
            std::string::npos)
      << seen;
  EXPECT_NE(seen.find("Authorization: Bearer t0ken\r\n"), std::string::npos)
      << seen;

  server.Serve([&](const std::string& r) {
    seen = r;
    return Reply(401, "no");
  });
  request.token.clear();
  request.user = "me";
  request.password = "pw";
  response = fetcher.Get(request);
  EXPECT_EQ(response.status, 401);
  EXPECT_NE(seen.find("Authorization: Basic bWU6cHc=\r\n"), std::string::npos)
      << seen;
}

TEST(WinHttpFetcherTest, RefusesLongSlowAndRedirectedAnswers) {
  LoopbackServer server;
  WinHttpFetcher fetcher;
  HttpRequest request;
  request.url = server.Url("/");
  request.max_bytes = 1000;
  server.Serve(
      [](const std::string&) { return Reply(200, std::string(5000, 'x')); });
  HttpResponse response = fetcher.Get(request);
  EXPECT_FALSE(response.received);
  EXPECT_EQ(response.error, "answer too long");
  EXPECT_TRUE(response.body.empty());

  server.Serve([](const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    return Reply(200, "late");
  });
  request.timeout_ms = 500;
  const auto start = std::chrono::steady_clock::now();
  response = fetcher.Get(request);
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(2000));
  EXPECT_FALSE(response.received);
  EXPECT_EQ(response.error, "Operation timed out");

  server.Serve([](const std::string&) {
    return Reply(302, "", "Location: http://127.0.0.2:1/\r\n");
  });
  request.timeout_ms = 2000;
  response = fetcher.Get(request);
  EXPECT_TRUE(response.received);
  EXPECT_EQ(response.status, 302) << "a redirect is not followed";

  request.url = "file:///c:/windows/win.ini";
  response = fetcher.Get(request);
  EXPECT_FALSE(response.received) << "only http and https";
}

}  // namespace
}  // namespace veska
