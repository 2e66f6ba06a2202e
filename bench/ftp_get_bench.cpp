// SPDX-License-Identifier: MIT
// FTP client throughput against the loopback vsftpd (BW_TEST_FTP_* as for the tests):
//   ftp_get_bench                      Google Benchmark runs: a 16 MiB download, and a listing plus
//                                      download of 500 small files through one logged-in connection
//   ftp_get_bench get DIR NAME LOCAL [active]
//                                      one download, for timing against other clients (see
//                                      ftp_download_bench.sh)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "net/ftp_connection.h"

namespace {

namespace fs = std::filesystem;
using bw::net::FtpConnection;
using bw::net::FtpSite;

struct Server
{
    FtpSite site;
    std::string root;
    bool ok = false;
};

Server serverFromEnvironment()
{
    Server server;
    const char *port = std::getenv("BW_TEST_FTP_PORT");
    const char *user = std::getenv("BW_TEST_FTP_USER");
    const char *password = std::getenv("BW_TEST_FTP_PASSWORD");
    const char *root = std::getenv("BW_TEST_FTP_ROOT");
    if (!port || !user || !password || !root)
        return server;
    server.site = FtpSite{"127.0.0.1", std::atoi(port), user, password, 1};
    server.root = root;
    server.ok = true;
    return server;
}

bool logIn(FtpConnection &ftp, const Server &server, const std::string &folder)
{
    return ftp.createAndBind(0) && ftp.login(server.site) && ftp.changeDirectory("/" + folder);
}

// Creates `count` files of `size` bytes in a fresh server folder (skipped when already there).
void prepareFolder(const Server &server, const std::string &folder, int count, std::size_t size)
{
    const fs::path dir = fs::path(server.root) / folder;
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%04d.bin", i);
        const fs::path path = dir / name;
        std::error_code ec;
        if (fs::file_size(path, ec) == size)
            continue;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

void BM_FtpDownload16MiB(benchmark::State &state)
{
    const Server server = serverFromEnvironment();
    if (!server.ok) {
        state.SkipWithError("BW_TEST_FTP_* not set: start the test servers");
        return;
    }
    constexpr std::size_t kSize = 16 * 1024 * 1024;
    prepareFolder(server, "bench_get", 1, kSize);
    FtpConnection ftp;
    if (!logIn(ftp, server, "bench_get")) {
        state.SkipWithError("login failed");
        return;
    }
    const fs::path local = fs::temp_directory_path() / "bw_bench_get.bin";
    for (auto _ : state) {
        if (!ftp.download(local.string(), "file0000.bin", true, state.range(0) != 0, kSize, false)) {
            state.SkipWithError(ftp.error().text());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
    ftp.disconnect(15);
    fs::remove(local);
}

BENCHMARK(BM_FtpDownload16MiB)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("passive")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FtpListAndFetch500(benchmark::State &state)
{
    const Server server = serverFromEnvironment();
    if (!server.ok) {
        state.SkipWithError("BW_TEST_FTP_* not set: start the test servers");
        return;
    }
    constexpr int kFiles = 500;
    prepareFolder(server, "bench_small", kFiles, 2048);
    FtpConnection ftp;
    if (!logIn(ftp, server, "bench_small")) {
        state.SkipWithError("login failed");
        return;
    }
    const fs::path local = fs::temp_directory_path() / "bw_bench_small";
    fs::create_directories(local);
    std::int64_t files = 0;
    for (auto _ : state) {
        if (!ftp.list("", true, true)) {
            state.SkipWithError(ftp.error().text());
            break;
        }
        std::vector<std::pair<std::string, std::int64_t>> entries;
        while (ftp.parseNextEntry("*"))
            if (!ftp.entryIsDirectory())
                entries.emplace_back(ftp.entryName(), ftp.entrySize());
        for (const auto &[name, size] : entries) {
            if (!ftp.download((local / name).string(), name, true, true, size, false)) {
                state.SkipWithError(ftp.error().text());
                break;
            }
            ++files;
        }
    }
    state.counters["files_per_second"] =
        benchmark::Counter(static_cast<double>(files), benchmark::Counter::kIsRate);
    ftp.disconnect(15);
    fs::remove_all(local);
}

BENCHMARK(BM_FtpListAndFetch500)->Unit(benchmark::kMillisecond)->UseRealTime();

int getOnce(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s get DIR NAME LOCAL [active]\n", argv[0]);
        return 2;
    }
    const Server server = serverFromEnvironment();
    if (!server.ok) {
        std::fprintf(stderr, "BW_TEST_FTP_* not set\n");
        return 2;
    }
    const bool passive = !(argc > 5 && std::string(argv[5]) == "active");
    FtpConnection ftp;
    if (!logIn(ftp, server, argv[2])) {
        std::fprintf(stderr, "login failed: %s\n", ftp.error().text());
        return 1;
    }
    std::error_code ec;
    fs::remove(argv[4], ec);
    const bool ok = ftp.download(argv[4], argv[3], true, passive, 0, false);
    if (!ok)
        std::fprintf(stderr, "download failed: %s\n", ftp.error().text());
    ftp.disconnect(15);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "get")
        return getOnce(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
