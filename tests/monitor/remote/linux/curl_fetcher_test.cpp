// The libcurl fetcher against a loopback server of the test's own: what it
// sends, and the limits it keeps (size, time, redirects); and the warning
// about a readable file of secrets.
#include "monitor/remote/linux/curl_fetcher.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "temp_folder.h"

namespace veska {
namespace {

// Answers one request per call of Serve with `answer(request)`.
class LoopbackServer {
 public:
  LoopbackServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 4);
    socklen_t size = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackServer() {
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // Serves one request in the background; `answer` gets the request text.
  void Serve(std::function<std::string(const std::string&)> answer) {
    if (thread_.joinable()) thread_.join();
    thread_ = std::thread([this, answer] {
      pollfd wait{fd_, POLLIN, 0};
      if (poll(&wait, 1, 5000) != 1) return;
      const int client = accept(fd_, nullptr, nullptr);
      std::string request;
      char buffer[4096];
      pollfd in{client, POLLIN, 0};
      while (request.find("\r\n\r\n") == std::string::npos &&
             poll(&in, 1, 2000) == 1) {
        const ssize_t got = read(client, buffer, sizeof buffer);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
      }
      const std::string reply = answer(request);
      size_t sent = 0;
      while (sent < reply.size()) {
        const ssize_t n = send(client, reply.data() + sent, reply.size() - sent,
                               MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      close(client);
    });
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

std::string Reply(int status, const std::string& body,
                  const std::string& extra = "") {
  return "HTTP/1.1 " + std::to_string(status) +
         " X\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + extra + "\r\n" + body;
}

TEST(CurlFetcherTest, SendsCredentialsAndReadsWhateverTheStatus) {
  LoopbackServer server;
  CurlFetcher fetcher;
  std::string seen;
  server.Serve([&](const std::string& r) {
    seen = r;
    return Reply(200, "a 1\n");
  });
  HttpRequest request;
  request.url = server.Url("/metrics");
  request.token = "t0ken";
  HttpResponse response = fetcher.Get(request);
  EXPECT_TRUE(response.received) << response.error;
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "a 1\n");
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

TEST(CurlFetcherTest, RefusesLongSlowAndRedirectedAnswers) {
  LoopbackServer server;
  CurlFetcher fetcher;
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
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    return Reply(200, "late");
  });
  request.timeout_ms = 300;
  const auto start = std::chrono::steady_clock::now();
  response = fetcher.Get(request);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(response.received);
  EXPECT_EQ(response.error, "Timeout was reached");

  // Credentials never follow a redirect to another address.
  server.Serve([&](const std::string&) {
    return Reply(302, "", "Location: http://127.0.0.2:1/\r\n");
  });
  request.timeout_ms = 2000;
  request.token = "t0ken";
  response = fetcher.Get(request);
  EXPECT_TRUE(response.received);
  EXPECT_EQ(response.status, 302);

  request.url = "file:///etc/passwd";
  response = fetcher.Get(request);
  EXPECT_FALSE(response.received) << "only http and https";
}

TEST(SourcesPermissionTest, WarnsOnceAboutSecretsOthersMayRead) {
  testing::TempFolder folder;
  const std::string path = (folder.path() / "sources.ini").string();
  std::FILE* file = std::fopen(path.c_str(), "w");
  std::fputs("[a]\nExporter = http://h/\nToken = t\n", file);
  std::fclose(file);
  std::FILE* messages = std::tmpfile();
  chmod(path.c_str(), 0644);
  EXPECT_TRUE(WarnIfReadableByOthers(path.c_str(), true, messages));
  EXPECT_FALSE(WarnIfReadableByOthers(path.c_str(), false, messages))
      << "nothing secret in it";
  chmod(path.c_str(), 0600);
  EXPECT_FALSE(WarnIfReadableByOthers(path.c_str(), true, messages));
  std::rewind(messages);
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, messages), nullptr);
  EXPECT_NE(std::string(line).find("chmod 600"), std::string::npos);
  EXPECT_EQ(std::string(line).find("Token"), std::string::npos);
  std::fclose(messages);
}

}  // namespace
}  // namespace veska
