// `korvel serve` under load on loopback: 50 concurrent sessions, each typing 200 edits into the
// example application, every reply checked. Reports requests per second, the median and 99th
// percentile latency, and the server's memory per session (resident growth over the sessions).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kSessions = 50;
constexpr int kEditsPerSession = 200;

// One keep-alive connection speaking just enough HTTP/1.1 for the API's replies, which always
// carry Content-Length.
class Connection {
 public:
  explicit Connection(int port) : port_(port) { open(); }
  ~Connection() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  // The status, or -1 when the connection failed; *cookie takes a Set-Cookie's session. A
  // connection the server closed is opened again.
  int send(const std::string& method, const std::string& path, const std::string& body,
           std::string* cookie) {
    if (fd_ < 0) open();
    if (fd_ < 0) return -1;
    int status = exchange(method, path, body, cookie);
    if (closeAfter_) {
      close(fd_);
      fd_ = -1;
      closeAfter_ = false;
    }
    return status;
  }
  const std::string& body() const { return body_; }

 private:
  void open() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }

  int exchange(const std::string& method, const std::string& path, const std::string& body,
               std::string* cookie) {
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!cookie->empty()) request += "Cookie: korvel_session=" + *cookie + "\r\n";
    if (!body.empty()) {
      request +=
          "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
          "\r\n";
    }
    request += "\r\n" + body;
    for (size_t sent = 0; sent < request.size();) {
      ssize_t n = ::send(fd_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return -1;
      sent += size_t(n);
    }
    std::string reply;
    size_t headerEnd;
    while ((headerEnd = reply.find("\r\n\r\n")) == std::string::npos) {
      if (!readMore(&reply)) return -1;
    }
    std::string headers = reply.substr(0, headerEnd);
    size_t length = 0;
    if (size_t at = headers.find("Content-Length: "); at != std::string::npos) {
      length = std::stoul(headers.substr(at + 16));
    }
    while (reply.size() < headerEnd + 4 + length) {
      if (!readMore(&reply)) return -1;
    }
    if (size_t at = headers.find("korvel_session="); at != std::string::npos) {
      *cookie = headers.substr(at + 15, headers.find(';', at) - at - 15);
    }
    body_ = reply.substr(headerEnd + 4, length);
    closeAfter_ = headers.find("Connection: close") != std::string::npos;
    return std::stoi(headers.substr(9, 3));
  }

  bool readMore(std::string* reply) {
    char buffer[8192];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    reply->append(buffer, size_t(n));
    return true;
  }
  int port_;
  int fd_ = -1;
  bool closeAfter_ = false;
  std::string body_;
};

long residentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// Starts `korvel serve` on a free port; the port, or 0.
int startServer(pid_t* pid) {
  int out[2];
  if (pipe(out) != 0) return 0;
  *pid = fork();
  if (*pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDERR_FILENO);  // the request log
    execl(KORVEL_BINARY, KORVEL_BINARY, "serve", KORVEL_SOURCE_DIR "/examples/pricing.txt",
          "--port", "0", "--max-sessions", "200", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  size_t at = line.rfind(':');
  return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 1);
}

void BM_ServeFiftySessionsEditing(benchmark::State& state) {
  pid_t pid = 0;
  int port = startServer(&pid);
  if (port == 0) {
    state.SkipWithError("korvel serve did not start");
    return;
  }
  long before = residentKib(pid);
  std::vector<double> latencies;
  std::atomic<int> failures{0};
  double seconds = 0;
  for (auto _ : state) {
    std::vector<std::vector<double>> perSession(kSessions);
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int s = 0; s < kSessions; ++s) {
      clients.emplace_back([&, s] {
        Connection connection(port);
        std::string cookie;
        if (!connection.ok() || connection.send("GET", "/api/sheets", "", &cookie) != 200) {
          ++failures;
          return;
        }
        // The example's quantity starts at 4: every edit here changes it, and so the total.
        for (int e = 0; e < kEditsPerSession; ++e) {
          std::string body = "{\"set\": {\"Order!C2\": " + std::to_string(e + 5 + s) + "}}";
          auto sent = std::chrono::steady_clock::now();
          int status = connection.send("POST", "/api/cells", body, &cookie);
          perSession[size_t(s)].push_back(
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent)
                  .count());
          if (status != 200 || connection.body().find("Order!D6") == std::string::npos) {
            ++failures;
          }
        }
      });
    }
    for (std::thread& client : clients) client.join();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& list : perSession) latencies.insert(latencies.end(), list.begin(), list.end());
  }
  long after = residentKib(pid);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  if (failures > 0) state.SkipWithError("some requests failed");
  std::sort(latencies.begin(), latencies.end());
  auto percentile = [&](double p) {
    return latencies.empty() ? 0.0 : latencies[size_t(p * double(latencies.size() - 1))];
  };
  state.counters["requests_per_s"] = double(latencies.size()) / seconds;
  state.counters["p50_ms"] = percentile(0.50);
  state.counters["p99_ms"] = percentile(0.99);
  state.counters["KiB_per_session"] = double(after - before) / kSessions;
  state.counters["failed"] = failures.load();
}
BENCHMARK(BM_ServeFiftySessionsEditing)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
