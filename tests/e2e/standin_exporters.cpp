// Stand-ins for a fleet's exporters: one process serving the metrics page
// of COUNT hosts on the loopback ports FIRST .. FIRST + COUNT - 1, each
// host's processor as busy as a control file says. The file holds one word
// per host: its load in percent, or "gone" for a host that stops answering
// (its port is closed until it comes back).
//
// Usage: standin_exporters FIRST COUNT CONTROL_FILE
//        standin_exporters --api PORT HOSTS
// The second form stands in for the metrics server's query API of a fleet
// of HOSTS hosts, every one answering, for benchmarks. Prints "ready" once
// every port listens; ends after ten minutes at most.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Host {
  int port = 0;
  int fd = -1;
  double load = 0.0;                    // 0..1, or negative when gone
  double busy = 1000.0, idle = 1000.0;  // seconds
  Clock::time_point last = Clock::now();

  void Advance(Clock::time_point now) {
    const double dt = std::chrono::duration<double>(now - last).count();
    last = now;
    if (load < 0.0) return;
    busy += load * dt;
    idle += (1.0 - load) * dt;
  }
};

int Listen(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 16) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void ReadControl(const char* path, std::vector<Host>& hosts) {
  std::ifstream in(path);
  std::string word;
  const auto now = Clock::now();
  for (Host& host : hosts) {
    if (!(in >> word)) break;
    host.Advance(now);
    host.load = word == "gone" ? -1.0 : std::atof(word.c_str()) / 100.0;
  }
}

std::string Page(Host& host) {
  host.Advance(Clock::now());
  std::ostringstream page;
  page.precision(17);
  page << "# TYPE node_cpu_seconds_total counter\n"
       << "node_cpu_seconds_total{cpu=\"0\",mode=\"idle\"} " << host.idle
       << "\nnode_cpu_seconds_total{cpu=\"0\",mode=\"user\"} " << host.busy
       << "\nnode_memory_MemAvailable_bytes 4.0e+09\n"
       << "node_memory_MemTotal_bytes 8.0e+09\n"
       << "node_disk_io_time_seconds_total{device=\"sda\"} 1.5\n";
  return page.str();
}

// A query API answer for `hosts` hosts, by what the query asks for.
std::string ApiAnswer(const std::string& request, int hosts, unsigned turn) {
  const bool per_host = request.find("query=up") != std::string::npos ||
                        request.find("node_cpu") != std::string::npos;
  const bool up = request.find("query=up") != std::string::npos;
  std::string body =
      R"({"status":"success","data":{"resultType":"vector","result":[)";
  const int series = per_host ? hosts : 1;
  for (int i = 0; i < series; ++i) {
    const unsigned load = (static_cast<unsigned>(i) * 37 + turn * 11) % 100;
    body += i > 0 ? "," : "";
    body += R"({"metric":{"instance":"10.)" + std::to_string(i / 250) + "." +
            std::to_string(i % 250) + R"(.1:9100"},"value":[1796712802.095,")" +
            (up ? std::string("1") : "0." + std::to_string(load)) + R"("]})";
  }
  return body + "]}}";
}

std::string ReadRequest(int client) {
  std::string request;
  char buffer[2048];
  pollfd wait{client, POLLIN, 0};
  while (request.find("\r\n\r\n") == std::string::npos &&
         request.size() < 16384 && poll(&wait, 1, 1000) == 1) {
    const ssize_t got = read(client, buffer, sizeof buffer);
    if (got <= 0) break;
    request.append(buffer, static_cast<size_t>(got));
  }
  return request;
}

void Answer(int client, const std::string& type, const std::string& body) {
  const std::string answer =
      "HTTP/1.1 200 OK\r\nContent-Type: " + type +
      "\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\nConnection: close\r\n\r\n" + body;
  size_t sent = 0;
  while (sent < answer.size()) {
    const ssize_t n = write(client, answer.data() + sent, answer.size() - sent);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  close(client);
}

int ServeApi(int port, int hosts) {
  const int fd = Listen(port);
  if (fd < 0) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const auto end = Clock::now() + std::chrono::minutes(10);
  unsigned turn = 0;
  while (Clock::now() < end) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 100) != 1) continue;
    const int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const std::string request = ReadRequest(client);
    Answer(client, "application/json", ApiAnswer(request, hosts, ++turn));
  }
  return 0;
}

// One request, answered and closed; a client that sends nothing within a
// second is dropped.
void Serve(Host& host) {
  const int client = accept4(host.fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return;
  ReadRequest(client);
  Answer(client, "text/plain; version=0.0.4", Page(host));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--api") {
    return ServeApi(std::atoi(argv[2]), std::atoi(argv[3]));
  }
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: %s FIRST COUNT CONTROL_FILE | --api PORT HOSTS\n",
                 argv[0]);
    return 2;
  }
  const int first = std::atoi(argv[1]);
  std::vector<Host> hosts(static_cast<size_t>(std::atoi(argv[2])));
  for (size_t i = 0; i < hosts.size(); ++i) {
    hosts[i].port = first + static_cast<int>(i);
    hosts[i].fd = Listen(hosts[i].port);
    if (hosts[i].fd < 0) {
      std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", hosts[i].port);
      return 1;
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const auto end = Clock::now() + std::chrono::minutes(10);
  while (Clock::now() < end) {
    ReadControl(argv[3], hosts);
    std::vector<pollfd> waits;
    for (Host& host : hosts) {
      if (host.load < 0.0 && host.fd >= 0) {
        close(host.fd);
        host.fd = -1;
      } else if (host.load >= 0.0 && host.fd < 0) {
        host.fd = Listen(host.port);
      }
      if (host.fd >= 0) waits.push_back({host.fd, POLLIN, 0});
    }
    if (poll(waits.data(), waits.size(), 100) <= 0) continue;
    for (const pollfd& ready : waits) {
      if ((ready.revents & POLLIN) == 0) continue;
      for (Host& host : hosts) {
        if (host.fd == ready.fd) Serve(host);
      }
    }
  }
  return 0;
}
