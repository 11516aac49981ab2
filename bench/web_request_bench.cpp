// web_request over loopback: throughput of a 64 MB body next to the curl command-line tool
// fetching the same address, the peak memory of one such request, and fifty requests at once
// from worker threads.
//
// The server runs in a child process, so its copy of the body counts neither against this
// process's memory nor its time. The stand-in's body cap is raised above the body through its
// seam, or the requests would stop at the cap. Prints one line per figure, then
//   RATIO web_request <curl tool's throughput / ours>
// (lower is better).
#include <httplib.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "platform/inet/wininet.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "runtime/runtime.h"
#include "web/web_request.h"

extern char** environ;

namespace {

using bench::median;

using Clock = std::chrono::steady_clock;

constexpr size_t kBigBody = size_t{64} << 20;
constexpr int kRounds = 9;
constexpr int kWorkers = 50;
constexpr size_t kWorkerBody = size_t{1} << 20;

char byte_at(size_t i) {
  return static_cast<char>((i * 131) >> 7);
}

// Serves /big (64 MB) and /n/<i> (1 MB each) until killed; answers the port through `pipe_out`.
[[noreturn]] void serve(int pipe_out) {
  static std::string body(kBigBody, 0);
  for (size_t i = 0; i < body.size(); ++i) body[i] = byte_at(i);
  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(64); };
  server.Get("/big", [](const httplib::Request&, httplib::Response& reply) {
    reply.set_content_provider(body.size(), "application/octet-stream",
                               [](size_t offset, size_t length, httplib::DataSink& sink) {
                                 const size_t n = std::min<size_t>(length, 1 << 20);
                                 return sink.write(body.data() + offset, n);
                               });
  });
  server.Get(R"(/n/(\d+))", [](const httplib::Request& request, httplib::Response& reply) {
    const size_t n = std::stoul(request.matches[1]);
    reply.set_content(body.data() + n * 4096, kWorkerBody, "application/octet-stream");
  });
  int listening = -1;
  server.set_socket_options([&listening](int socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening = socket;
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  listen(listening, 128);  // the library's own queue of 5 is too short for fifty at once
  if (write(pipe_out, &port, sizeof port) != sizeof port)
    _exit(1);
  server.listen_after_bind();
  _exit(0);
}

bool body_matches(const rt::Bytes& body, size_t size, size_t first) {
  if (body.size() != size)
    return false;
  const uint8_t* data = body.data();
  for (size_t i = 0; i < size; i += 4093) {
    if (data[i] != static_cast<uint8_t>(byte_at(first + i)))
      return false;
  }
  return data[size - 1] == static_cast<uint8_t>(byte_at(first + size - 1));
}

// Lets the stand-in take bodies up to `max_body_bytes`, through its seam for tests and benchmarks.
void raise_body_cap(rt::DllCommands& table, uint64_t max_body_bytes) {
  const char* files[] = {rt::kInternetLibrary, rt::kInternetLibrary};
  const char* names[] = {"ffinet_get_limits", "ffinet_set_limits"};
  table.prepare(2, files, names, rt::program_directory());
  inet::Limits limits;
  reinterpret_cast<decltype(&ffinet_get_limits)>(table.resolve(0))(&limits);
  limits.max_body_bytes = max_body_bytes;
  reinterpret_cast<decltype(&ffinet_set_limits)>(table.resolve(1))(&limits);
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpu_seconds(const rusage& usage) {
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double own_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return cpu_seconds(usage);
}

struct Run {
  double wall = -1;  // seconds; -1 when the run failed
  double cpu = 0;    // seconds of processor time, user and system
};

// One run of the command-line tool, writing the body nowhere.
Run curl_tool_run(const std::string& address) {
  const char* argv[] = {"curl", "-s",        "--noproxy",     "*",
                        "-o",   "/dev/null", address.c_str(), nullptr};
  const auto start = Clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    return {};
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double elapsed = seconds_since(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return {};
  return {elapsed, cpu_seconds(usage)};
}

}  // namespace

int main() {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0)
    return 1;
  const pid_t server = fork();
  if (server == 0)
    serve(pipe_fds[1]);
  int port = 0;
  if (read(pipe_fds[0], &port, sizeof port) != sizeof port)
    return 1;
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const std::string big = base + "/big";
  int failures = 0;
  rt::DllCommands seams;
  raise_body_cap(seams, kBigBody * 2);

  // Peak memory first, before anything else has grown the process. Writing 5 to clear_refs
  // resets the high-water mark where the kernel allows it.
  {
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before_kb = bench::status_kib("VmRSS:");
    rt::Bytes body = web::web_request({.address = big.c_str()});
    const long peak_kb = bench::status_kib("VmHWM:");
    if (!body_matches(body, kBigBody, 0))
      ++failures;
    const double growth_mb = static_cast<double>(peak_kb - before_kb) / 1024.0;
    std::printf("peak memory of one 64 MB web_request: %.1f MB above the start (%.2f x the body)\n",
                growth_mb, growth_mb / 64.0);
  }

  // Wall time depends on what else the machine runs; processor time much less so.
  std::vector<double> ours, tool, ours_cpu, tool_cpu;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    const double cpu_start = own_cpu_seconds();
    const rt::Bytes body = web::web_request({.address = big.c_str()});
    ours_cpu.push_back(own_cpu_seconds() - cpu_start);
    ours.push_back(seconds_since(start));
    if (!body_matches(body, kBigBody, 0))
      ++failures;
    const Run run = curl_tool_run(big);
    if (run.wall > 0) {
      tool.push_back(run.wall);
      tool_cpu.push_back(run.cpu);
    }
  }
  const double mb = static_cast<double>(kBigBody) / (1 << 20);
  const double ours_rate = mb / median(ours);
  double ratio = -1;
  std::printf("web_request, 64 MB:       %7.0f MB/s, %5.1f ms of processor time (median of %d)\n",
              ours_rate, median(ours_cpu) * 1000, kRounds);
  if (tool.empty()) {
    std::printf("curl command-line tool:   not available\n");
  } else {
    const double tool_rate = mb / median(tool);
    std::printf(
        "curl command-line tool:   %7.0f MB/s, %5.1f ms of processor time (median of %zu, "
        "process start included)\n",
        tool_rate, median(tool_cpu) * 1000, tool.size());
    std::printf("web_request / curl tool:  %.2f\n", ours_rate / tool_rate);
    ratio = tool_rate / ours_rate;
  }

  std::vector<double> concurrent;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<int> good(kWorkers, 0);
    std::vector<std::thread> workers;
    const auto start = Clock::now();
    for (int i = 0; i < kWorkers; ++i) {
      workers.emplace_back([&, i] {
        const std::string address = base + "/n/" + std::to_string(i);
        const rt::Bytes body = web::web_request({.address = address.c_str()});
        good[static_cast<size_t>(i)] =
            body_matches(body, kWorkerBody, static_cast<size_t>(i) * 4096);
      });
    }
    for (std::thread& worker : workers) worker.join();
    concurrent.push_back(seconds_since(start));
    failures += kWorkers - static_cast<int>(std::count(good.begin(), good.end(), 1));
  }
  std::printf("%d concurrent web_request of 1 MB each: %.1f ms for all (median of %d)\n", kWorkers,
              median(concurrent) * 1000, kRounds);
  std::printf("bodies that came back wrong: %d\n", failures);

  if (ratio > 0)
    std::printf("RATIO web_request %.2f\n", ratio);
  std::fflush(stdout);

  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  return failures == 0 ? 0 : 1;
}
