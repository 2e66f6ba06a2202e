// SPDX-License-Identifier: MIT
// bellwick-cli's way to the servers: --proxy, the proxy variables, --noproxy, and a dead proxy that
// ends the item with the proxy's reason while the server behind it sees nothing.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "cli_fixture.h"
#include "support/silent_listener.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::test {
namespace {

namespace fs = std::filesystem;

struct RouteCase
{
    const char *name;
    std::vector<std::string> options;
    std::vector<std::pair<std::string, std::string>> environment;
    const char *logVariable; // the proxy log that must show the download, or null for a direct one
};

TEST_F(CliTest, ProxyFromTheOptionOrTheEnvironmentUnlessListedInNoProxy)
{
    const std::string socks = "127.0.0.1:" + serverEnv("BW_TEST_SOCKS_PORT");
    const std::string http = "127.0.0.1:" + serverEnv("BW_TEST_HTTP_PROXY_PORT");
    const RouteCase cases[] = {
        {"--proxy socks5h", {"--proxy", "socks5h://" + socks}, {}, "BW_TEST_SOCKS_LOG"},
        {"all_proxy", {}, {{"all_proxy", "http://" + http}}, "BW_TEST_HTTP_PROXY_LOG"},
        {"no_proxy", {}, {{"http_proxy", "http://" + http}, {"no_proxy", "127.0.0.0/8"}}, nullptr},
        {"--noproxy", {"--proxy", "http://" + http, "--noproxy", "127.0.0.1"}, {}, nullptr},
    };
    const HttpServer server = httpServer();
    int round = 0;
    for (const RouteCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = "cli-proxy-" + std::to_string(::getpid()) + "-" + std::to_string(++round);
        writeFile(fs::path(server.root) / name, patternBytes(5000, round));
        const std::string log = c.logVariable ? readFile(serverEnv(c.logVariable)) : std::string();
        environment = c.environment;
        std::vector<std::string> args = c.options;
        args.insert(
            args.end(), {"--tries", "1", "http://127.0.0.1:" + std::to_string(server.port) + "/" + name});
        const CliRun result = run(args);
        fs::remove(fs::path(server.root) / name);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(readFile(dir / "work" / name), patternBytes(5000, round));
        if (c.logVariable) {
            EXPECT_GT(readFile(serverEnv(c.logVariable)).size(), log.size()) << "the proxy saw nothing";
        }
    }
}

TEST_F(CliTest, ADeadProxyEndsTheItemAndNothingGoesDirect)
{
    SilentListener server;
    int deadPort = 0;
    {
        const SilentListener closed;
        deadPort = closed.port();
    }
    const CliRun result = run({"--proxy", "socks5h://127.0.0.1:" + std::to_string(deadPort), "--tries", "1",
        "ftp://u:p@127.0.0.1:" + std::to_string(server.port()) + "/f.bin"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Proxy connection failed: proxy 127.0.0.1:" + std::to_string(deadPort)),
        std::string::npos)
        << result.err;
    pollfd waiting{server.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "a connection went around the proxy";
}

} // namespace
} // namespace bw::test
