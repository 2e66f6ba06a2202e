// SPDX-License-Identifier: MIT
// Every protocol through every proxy kind that can carry it, against the loopback tinyproxy and dante
// (open and with a login): the file arrives whole and the proxy's log shows the connections. A dead
// proxy, a refused login and active FTP through a proxy fail with the proxy's reason, and the server
// behind it never sees a connection.
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "engine/remote_session_factory.h"
#include "net/http_connection.h"
#include "support/server_folder.h"
#include "support/sftp_test_home.h"
#include "support/silent_listener.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "support/tls_test_servers.h"
#include "support/wait_until.h"

namespace bw::net {
namespace {

using namespace bw::test;
namespace fs = std::filesystem;

enum class Protocol
{
    Ftp,
    Ftps,
    Sftp,
    Http,
    Https,
};

struct RouteCase
{
    const char *name;
    Protocol protocol;
    ProxyKind kind;
    bool login;
};

// The proxy of a case as the test servers run it, and the log that proves the way.
struct TestProxy
{
    ProxyRoute route;
    fs::path log;
    const char *connectMark; // one per connection carried
};

TestProxy testProxy(ProxyKind kind, bool login)
{
    TestProxy proxy;
    proxy.route.kind = kind;
    proxy.route.host = "127.0.0.1";
    if (kind == ProxyKind::Socks5) {
        proxy.route.port = serverEnvPort(login ? "BW_TEST_SOCKS_LOGIN_PORT" : "BW_TEST_SOCKS_PORT");
        proxy.log = serverEnv(login ? "BW_TEST_SOCKS_LOGIN_LOG" : "BW_TEST_SOCKS_LOG");
        proxy.connectMark = "tcp/connect [";
        if (login) { // dante asks the system for the FTP test user's password
            proxy.route.user = ftpServer().user;
            proxy.route.password = ftpServer().password;
        }
    } else {
        proxy.route.port = serverEnvPort(login ? "BW_TEST_HTTP_PROXY_LOGIN_PORT" : "BW_TEST_HTTP_PROXY_PORT");
        proxy.log = serverEnv(login ? "BW_TEST_HTTP_PROXY_LOGIN_LOG" : "BW_TEST_HTTP_PROXY_LOG");
        proxy.connectMark = "Connect (file descriptor";
        if (login) {
            proxy.route.user = serverEnv("BW_TEST_PROXY_USER");
            proxy.route.password = serverEnv("BW_TEST_PROXY_PASSWORD");
        }
    }
    return proxy;
}

int countOf(const std::string &text, const std::string &mark)
{
    int count = 0;
    for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
        ++count;
    return count;
}

class ProxyServers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tls = tlsServers();
        trustOnly(tls.caFile, emptyFolder.path().string());
        sftpHome.trustServer();
    }

    // The server of `protocol`: its address and the folder its "/" is on disk.
    RemoteSite siteOf(Protocol protocol, fs::path &root) const
    {
        switch (protocol) {
        case Protocol::Ftp:
            root = ftpServer().root;
            return {"127.0.0.1", ftpServer().port, ftpServer().user, ftpServer().password, 1};
        case Protocol::Ftps:
            root = tls.ftpsRoot;
            return {"127.0.0.1", tls.ftpsPort, tls.ftpUser, tls.ftpPassword, 1};
        case Protocol::Sftp:
            root = sftpHome.server().root;
            return sftpHome.site();
        case Protocol::Http:
            root = httpServer().root;
            return {"127.0.0.1", httpServer().port, {}, {}, 1};
        case Protocol::Https:
            root = tls.httpsRoot;
            return {"127.0.0.1", tls.httpsPort, {}, {}, 1};
        }
        return {};
    }

    // Downloads `name` from the site over `protocol`; the error record on failure.
    ErrorCode download(
        Protocol protocol, const RemoteSite &site, const std::string &name, bool passive = true)
    {
        const std::string target = (local.path() / name).string();
        if (protocol == Protocol::Http || protocol == Protocol::Https) {
            HttpConnection http;
            http.setTls(protocol == Protocol::Https ? std::optional(TlsOptions{}) : std::nullopt);
            http.setProxy(site.proxy);
            if (!http.connect(site.host, site.port, {}, {}, 1) || !http.download(target, "/" + name))
                return http.error();
            return {};
        }
        std::shared_ptr<RemoteSession> session;
        if (protocol == Protocol::Sftp)
            session = std::make_shared<SftpSession>(sftpHome.options());
        else
            session =
                engine::makeRemoteSession(protocol == Protocol::Ftps ? engine::SessionProtocol::FtpImplicitTls
                                                                     : engine::SessionProtocol::Ftp,
                    {});
        session->applyItemSettings({1, 10, passive});
        if (!session->connect(site) || !session->get(name, target, 0, false, {}))
            return session->error();
        session->disconnect(15);
        return {};
    }

    TlsServers tls;
    TempDir emptyFolder;
    TempDir local;
    SftpTestHome sftpHome;
};

class ProxyRoutes : public ProxyServers, public ::testing::WithParamInterface<RouteCase>
{};

TEST_P(ProxyRoutes, DownloadsThroughTheProxy)
{
    const RouteCase &c = GetParam();
    const TestProxy proxy = testProxy(c.kind, c.login);
    fs::path root;
    RemoteSite site = siteOf(c.protocol, root);
    site.proxy = proxy.route;
    const std::string name = std::string("proxy-") + c.name + "-" + std::to_string(::getpid()) + ".bin";
    const std::string bytes = patternBytes(300000, 7);
    writeFile(root / name, bytes);
    fs::permissions(root / name, fs::perms::all, fs::perm_options::add);
    const int connectsBefore = countOf(readFile(proxy.log), proxy.connectMark);

    const ErrorCode error = download(c.protocol, site, name);
    fs::remove(root / name);
    ASSERT_FALSE(error.isSet()) << error.text() << ": " << error.detail();
    EXPECT_EQ(readFile(local.path() / name), bytes);
    // FTP's data connection goes the same way as its control connection.
    const int expected = c.protocol == Protocol::Ftp || c.protocol == Protocol::Ftps ? 2 : 1;
    EXPECT_TRUE(waitUntil([&] {
        return countOf(readFile(proxy.log), proxy.connectMark) >= connectsBefore + expected;
    })) << readFile(proxy.log);
    const std::string target = c.kind == ProxyKind::Socks5 ? "127.0.0.1." + std::to_string(site.port)
                                                           : "127.0.0.1:" + std::to_string(site.port);
    EXPECT_NE(readFile(proxy.log).find(target), std::string::npos) << "the proxy never named " << target;
}

INSTANTIATE_TEST_SUITE_P(EachProtocolAndProxy, ProxyRoutes,
    ::testing::Values(RouteCase{"FtpSocks", Protocol::Ftp, ProxyKind::Socks5, false},
        RouteCase{"FtpSocksLogin", Protocol::Ftp, ProxyKind::Socks5, true},
        RouteCase{"FtpConnect", Protocol::Ftp, ProxyKind::Http, false},
        RouteCase{"FtpsSocks", Protocol::Ftps, ProxyKind::Socks5, false},
        RouteCase{"FtpsConnectLogin", Protocol::Ftps, ProxyKind::Http, true},
        RouteCase{"SftpSocksLogin", Protocol::Sftp, ProxyKind::Socks5, true},
        RouteCase{"SftpConnect", Protocol::Sftp, ProxyKind::Http, false},
        RouteCase{"HttpForwarded", Protocol::Http, ProxyKind::Http, false},
        RouteCase{"HttpForwardedLogin", Protocol::Http, ProxyKind::Http, true},
        RouteCase{"HttpSocks", Protocol::Http, ProxyKind::Socks5, false},
        RouteCase{"HttpsConnect", Protocol::Https, ProxyKind::Http, false},
        RouteCase{"HttpsSocksLogin", Protocol::Https, ProxyKind::Socks5, true}),
    [](const auto &test) { return std::string(test.param.name); });

enum class Trouble
{
    DeadProxy,
    WrongLogin,
    NoLogin, // to a proxy that wants one
    ActiveMode,
};

struct FailCase
{
    const char *name;
    Protocol protocol;
    ProxyKind kind;
    Trouble trouble;
    std::int32_t code;
};

TEST_F(ProxyServers, FailuresGiveTheProxysReasonAndNothingGoesDirect)
{
    const FailCase cases[] = {
        {"ftp, dead SOCKS5 proxy", Protocol::Ftp, ProxyKind::Socks5, Trouble::DeadProxy, ProxyConnectFailed},
        {"http, dead HTTP proxy", Protocol::Http, ProxyKind::Http, Trouble::DeadProxy, ProxyConnectFailed},
        {"sftp, dead HTTP proxy", Protocol::Sftp, ProxyKind::Http, Trouble::DeadProxy, ProxyConnectFailed},
        {"ftp, SOCKS5 login refused", Protocol::Ftp, ProxyKind::Socks5, Trouble::WrongLogin, ProxyRefused},
        {"https, CONNECT login refused", Protocol::Https, ProxyKind::Http, Trouble::WrongLogin, ProxyRefused},
        {"http, forwarding without a login", Protocol::Http, ProxyKind::Http, Trouble::NoLogin, ProxyRefused},
        {"ftp, active mode", Protocol::Ftp, ProxyKind::Socks5, Trouble::ActiveMode, ActiveModeThroughProxy},
    };
    for (const FailCase &c : cases) {
        SCOPED_TRACE(c.name);
        SilentListener server;
        fs::path root;
        RemoteSite site = siteOf(c.protocol, root);
        if (c.trouble != Trouble::ActiveMode)
            site.port = server.port();
        site.proxy =
            testProxy(c.kind, c.trouble == Trouble::WrongLogin || c.trouble == Trouble::NoLogin).route;
        if (c.trouble == Trouble::WrongLogin)
            site.proxy.password += "-wrong";
        if (c.trouble == Trouble::NoLogin)
            site.proxy.user.clear();
        if (c.trouble == Trouble::DeadProxy) {
            const SilentListener closed;
            site.proxy.port = closed.port(); // nothing listens there once it is gone
        }
        const std::string name = "never-" + std::to_string(::getpid()) + ".bin";
        if (c.trouble == Trouble::ActiveMode)
            writeFile(root / name, "x");
        const ErrorCode error = download(c.protocol, site, name, c.trouble != Trouble::ActiveMode);
        fs::remove(root / name);
        EXPECT_TRUE(error.is(CatProtocol, c.code)) << error.text() << ": " << error.detail();
        if (c.trouble != Trouble::ActiveMode) {
            EXPECT_TRUE(error.detail().starts_with(std::string(error.text()) + ": proxy 127.0.0.1:"))
                << error.detail();
        }
        pollfd waiting{server.fd(), POLLIN, 0}; // a connection that went around the proxy waits here
        EXPECT_EQ(::poll(&waiting, 1, 0), 0);
        EXPECT_FALSE(fs::exists(local.path() / name));
    }
}

} // namespace
} // namespace bw::net
