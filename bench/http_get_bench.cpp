// SPDX-License-Identifier: MIT
// One large download from the loopback test nginx (BW_TEST_HTTP_PORT / BW_TEST_HTTP_ROOT), with
// HttpConnection and with curl in the same run: wall and CPU time of each, and their ratios.
// BW_BENCH_HTTP_BYTES sets the file size (1 GiB by default).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "net/http_connection.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

struct Times
{
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

double seconds(const timeval &t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double cpuOf(const rusage &usage)
{
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Setup
{
    bool ok = false;
    std::string error;
    int port = 0;
    std::string requestPath;
    std::int64_t bytes = 0;
    fs::path localDir;
};

// Creates (once) the served file and a local folder for the copies.
const Setup &setup()
{
    static const Setup instance = [] {
        Setup s;
        const char *port = std::getenv("BW_TEST_HTTP_PORT");
        const char *root = std::getenv("BW_TEST_HTTP_ROOT");
        if (!port || !root) {
            s.error = "BW_TEST_HTTP_PORT and BW_TEST_HTTP_ROOT must name the test nginx";
            return s;
        }
        s.port = std::atoi(port);
        const char *size = std::getenv("BW_BENCH_HTTP_BYTES");
        s.bytes = size ? std::atoll(size) : (std::int64_t{1} << 30);
        const fs::path folder = fs::path(root) / "bench";
        fs::create_directories(folder);
        const fs::path file = folder / ("get-" + std::to_string(s.bytes) + ".bin");
        std::error_code ec;
        if (fs::file_size(file, ec) != static_cast<std::uintmax_t>(s.bytes)) {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            std::vector<char> block(1 << 20);
            std::uint32_t x = 12345;
            for (auto &c : block) {
                x = x * 1664525u + 1013904223u;
                c = static_cast<char>(x >> 24);
            }
            for (std::int64_t left = s.bytes; left > 0;) {
                const auto n = static_cast<std::streamsize>(std::min<std::int64_t>(left, block.size()));
                out.write(block.data(), n);
                left -= n;
            }
            if (!out) {
                s.error = "cannot write " + file.string();
                return s;
            }
        }
        s.requestPath = "/bench/" + file.filename().string();
        s.localDir = fs::temp_directory_path() / ("bw-http-bench-" + std::to_string(::getpid()));
        s.ok = true;
        return s;
    }();
    return instance;
}

Times downloadWithHttpConnection(const Setup &s, bool &ok)
{
    const fs::path local = s.localDir / "ours.bin";
    fs::remove(local);
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    bw::net::HttpConnection http;
    ok = http.connect("127.0.0.1", s.port, "", "", 1) && http.download(local.string(), s.requestPath);
    const auto end = std::chrono::steady_clock::now();
    getrusage(RUSAGE_SELF, &after);
    std::error_code ec;
    ok = ok && fs::file_size(local, ec) == static_cast<std::uintmax_t>(s.bytes);
    fs::remove(local);
    return {std::chrono::duration<double>(end - start).count(), cpuOf(after) - cpuOf(before)};
}

Times downloadWithCurl(const Setup &s, bool &ok)
{
    const fs::path local = s.localDir / "curl.bin";
    fs::remove(local);
    const std::string url = "http://127.0.0.1:" + std::to_string(s.port) + s.requestPath;
    const std::string output = local.string();
    std::vector<char *> argv{const_cast<char *>("curl"), const_cast<char *>("-s"), const_cast<char *>("-o"),
        const_cast<char *>(output.c_str()), const_cast<char *>(url.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    ok = posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) == 0;
    rusage usage{};
    int status = 0;
    if (ok)
        ok = wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const auto end = std::chrono::steady_clock::now();
    std::error_code ec;
    ok = ok && fs::file_size(local, ec) == static_cast<std::uintmax_t>(s.bytes);
    fs::remove(local);
    return {std::chrono::duration<double>(end - start).count(), cpuOf(usage)};
}

// Each iteration downloads the file with both clients; the reported time is HttpConnection's.
void BM_HttpGetVersusCurl(benchmark::State &state)
{
    const Setup &s = setup();
    if (!s.ok) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    fs::create_directories(s.localDir);
    Times ours;
    Times curl;
    for (auto _ : state) {
        bool okOurs = false;
        bool okCurl = false;
        // Alternate who goes first, so page-cache write-back left by one does not always slow the other.
        Times o;
        Times c;
        if (state.iterations() % 2 == 0) {
            o = downloadWithHttpConnection(s, okOurs);
            c = downloadWithCurl(s, okCurl);
        } else {
            c = downloadWithCurl(s, okCurl);
            o = downloadWithHttpConnection(s, okOurs);
        }
        if (!okOurs || !okCurl) {
            fs::remove_all(s.localDir);
            state.SkipWithError(okOurs ? "curl download failed" : "HttpConnection download failed");
            return;
        }
        state.SetIterationTime(o.wallSeconds);
        ours.wallSeconds += o.wallSeconds;
        ours.cpuSeconds += o.cpuSeconds;
        curl.wallSeconds += c.wallSeconds;
        curl.cpuSeconds += c.cpuSeconds;
    }
    fs::remove_all(s.localDir);
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_wall_s"] = ours.wallSeconds / n;
    state.counters["curl_wall_s"] = curl.wallSeconds / n;
    state.counters["wall_ratio"] = ours.wallSeconds / curl.wallSeconds;
    state.counters["ours_cpu_s"] = ours.cpuSeconds / n;
    state.counters["curl_cpu_s"] = curl.cpuSeconds / n;
    state.counters["cpu_ratio"] = curl.cpuSeconds > 0 ? ours.cpuSeconds / curl.cpuSeconds : 0;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * s.bytes);
}

BENCHMARK(BM_HttpGetVersusCurl)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
