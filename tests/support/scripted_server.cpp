// SPDX-License-Identifier: MIT
#include "support/scripted_server.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bw::test {

namespace {

int listenOnLoopback(ScriptedServer::Loopback loopback, int &port)
{
    const bool v6 = loopback == ScriptedServer::Loopback::V6;
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (v6) {
        auto *address = reinterpret_cast<sockaddr_in6 *>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_loopback;
        length = sizeof *address;
    } else {
        auto *address = reinterpret_cast<sockaddr_in *>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *address;
    }
    auto *address = reinterpret_cast<sockaddr *>(&storage);
    if (::bind(fd, address, length) != 0 || ::listen(fd, 8) != 0
        || ::getsockname(fd, address, &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = v6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port)
              : ntohs(reinterpret_cast<sockaddr_in *>(&storage)->sin_port);
    return fd;
}

// The address and port of "PORT h1,h2,h3,h4,p1,p2" or "EPRT |af|address|port|"; false when unusable.
bool parseActiveAddress(const std::string &line, sockaddr_storage &storage, socklen_t &length)
{
    storage = {};
    if (line.rfind("PORT ", 0) == 0) {
        unsigned h[6] = {};
        if (std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &h[4], &h[5]) != 6)
            return false;
        auto *address = reinterpret_cast<sockaddr_in *>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl((h[0] << 24) | (h[1] << 16) | (h[2] << 8) | h[3]);
        address->sin_port = htons(static_cast<std::uint16_t>(h[4] * 256 + h[5]));
        length = sizeof *address;
        return true;
    }
    if (line.rfind("EPRT ", 0) != 0 || line.size() < 6)
        return false;
    const char delimiter = line[5];
    std::vector<std::string> fields;
    std::size_t start = 6;
    for (std::size_t at = line.find(delimiter, start); at != std::string::npos;
         at = line.find(delimiter, start)) {
        fields.push_back(line.substr(start, at - start));
        start = at + 1;
    }
    if (fields.size() != 3)
        return false;
    const int port = std::atoi(fields[2].c_str());
    if (fields[0] == "2") {
        auto *address = reinterpret_cast<sockaddr_in6 *>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *address;
        return ::inet_pton(AF_INET6, fields[1].c_str(), &address->sin6_addr) == 1;
    }
    auto *address = reinterpret_cast<sockaddr_in *>(&storage);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof *address;
    return fields[0] == "1" && ::inet_pton(AF_INET, fields[1].c_str(), &address->sin_addr) == 1;
}

// Binds `fd` to the IPv4 address `text` (any port), so a connection comes from there.
bool bindToAddress(int fd, const std::string &text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    return ::inet_pton(AF_INET, text.c_str(), &address.sin_addr) == 1
        && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ScriptedServer::ScriptedServer(Loopback loopback)
    : m_loopback(loopback)
{
    m_listenFd = listenOnLoopback(m_loopback, m_port);
}

ScriptedServer::~ScriptedServer()
{
    {
        std::lock_guard lock{m_mutex};
        m_stopping = true;
        m_releases += 1000;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    closeFd(m_controlFd);
    closeFd(m_dataFd);
    closeFd(m_dataListenFd);
    closeFd(m_listenFd);
}

ScriptedServer &ScriptedServer::add(Step::Kind kind, std::string text)
{
    m_steps.push_back(Step{kind, std::move(text)});
    return *this;
}

ScriptedServer &ScriptedServer::reply(std::string line, std::string answer)
{
    expect(std::move(line));
    return send(std::move(answer));
}

ScriptedServer &ScriptedServer::script(const std::vector<std::pair<std::string, std::string>> &exchanges)
{
    for (const auto &[line, answer] : exchanges)
        reply(line, answer);
    return *this;
}

void ScriptedServer::start()
{
    if (m_listenFd < 0)
        fail(m_loopback == Loopback::V6 ? "could not listen on ::1" : "could not listen on 127.0.0.1");
    m_thread = std::thread(&ScriptedServer::run, this);
}

void ScriptedServer::release()
{
    {
        std::lock_guard lock{m_mutex};
        ++m_releases;
    }
    m_changed.notify_all();
}

bool ScriptedServer::waitFinished(std::chrono::milliseconds limit)
{
    std::unique_lock lock{m_mutex};
    return m_changed.wait_for(lock, limit, [this] { return m_finished; });
}

bool ScriptedServer::finished() const
{
    std::lock_guard lock{m_mutex};
    return m_finished;
}

std::vector<std::string> ScriptedServer::received() const
{
    std::lock_guard lock{m_mutex};
    return m_received;
}

std::string ScriptedServer::dataReceived() const
{
    std::lock_guard lock{m_mutex};
    return m_dataReceived;
}

std::vector<std::string> ScriptedServer::failures() const
{
    std::lock_guard lock{m_mutex};
    return m_failures;
}

int ScriptedServer::dataPort() const
{
    std::lock_guard lock{m_mutex};
    return m_dataPort;
}

void ScriptedServer::fail(const std::string &message)
{
    std::lock_guard lock{m_mutex};
    m_failures.push_back(message);
}

void ScriptedServer::record(const std::string &line)
{
    std::lock_guard lock{m_mutex};
    m_received.push_back(line);
}

void ScriptedServer::waitRelease()
{
    std::unique_lock lock{m_mutex};
    m_changed.wait(lock, [this] { return m_releases > 0 || m_stopping; });
    if (m_releases > 0)
        --m_releases;
}

bool ScriptedServer::pause(std::chrono::milliseconds limit)
{
    std::unique_lock lock{m_mutex};
    return !m_changed.wait_for(lock, limit, [this] { return m_stopping; });
}

void ScriptedServer::run()
{
    bool ok = m_listenFd >= 0;
    if (ok)
        ok = runStep(Step{Step::Accept, {}});
    for (const Step &step : m_steps) {
        if (!ok)
            break;
        ok = runStep(step);
    }
    // The script is over: the client sees the connections close.
    closeFd(m_dataFd);
    closeFd(m_dataListenFd);
    closeFd(m_controlFd);
    {
        std::lock_guard lock{m_mutex};
        m_finished = true;
    }
    m_changed.notify_all();
}

bool ScriptedServer::waitReadable(int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + m_stepTimeout;
    for (;;) {
        {
            std::lock_guard lock{m_mutex};
            if (m_stopping)
                return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool ScriptedServer::sendAll(int fd, const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail("send failed");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ScriptedServer::readLine(int fd, std::string &line)
{
    for (;;) {
        std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        if (!waitReadable(fd))
            return false;
        char chunk[4096];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        m_pending.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ScriptedServer::runStep(const Step &step)
{
    switch (step.kind) {
    case Step::Accept: {
        closeFd(m_controlFd);
        m_pending.clear();
        if (!waitReadable(m_listenFd)) {
            fail("no client connected");
            return false;
        }
        m_controlFd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_controlFd < 0) {
            fail("accept failed");
            return false;
        }
        return true;
    }
    case Step::Expect: {
        std::string line;
        bool haveLine = readLine(m_controlFd, line);
        while (haveLine
            && ((!m_scriptsEpsv && line == "EPSV" && step.text != "EPSV")
                || (line == "FEAT" && step.text != "FEAT"))) {
            if (!sendAll(m_controlFd, "500 " + line + " not understood\r\n"))
                return false;
            haveLine = readLine(m_controlFd, line);
        }
        if (!haveLine) {
            fail("expected \"" + step.text + "\", got nothing");
            return false;
        }
        record(line);
        if (!step.text.empty() && line != step.text)
            fail("expected \"" + step.text + "\", got \"" + line + "\"");
        return true;
    }
    case Step::ExpectBytes: {
        char chunk[4096];
        if (m_pending.empty()
            && (!waitReadable(m_controlFd) || ::recv(m_controlFd, chunk, sizeof chunk, 0) <= 0)) {
            fail("expected \"" + step.text + "\", got nothing");
            return false;
        }
        m_pending.clear();
        record(step.text);
        return true;
    }
    case Step::ExpectHeader: {
        std::string header;
        std::string line;
        for (;;) {
            if (!readLine(m_controlFd, line)) {
                fail("request header ended early");
                return false;
            }
            header += line + "\r\n";
            if (line.empty())
                break;
        }
        record(header);
        return true;
    }
    case Step::Send:
        return sendAll(m_controlFd, step.text + "\r\n");
    case Step::SendRaw:
        return sendAll(m_controlFd, step.text);
    case Step::Hold:
        waitRelease();
        return true;
    case Step::Drop:
        closeFd(m_controlFd);
        return true;
    case Step::Reset: {
        // A zero linger time makes close() send RST.
        const linger abortive{1, 0};
        ::setsockopt(m_controlFd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        closeFd(m_controlFd);
        return true;
    }
    case Step::ExpectClose: {
        for (;;) {
            if (!waitReadable(m_controlFd)) {
                fail("the client did not close the connection");
                return false;
            }
            char chunk[4096];
            ssize_t n = ::recv(m_controlFd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return true;
            m_pending.append(chunk, static_cast<std::size_t>(n));
        }
    }
    case Step::PassiveListen: {
        closeFd(m_dataListenFd);
        int dataPort = 0;
        m_dataListenFd = listenOnLoopback(m_loopback, dataPort);
        if (m_dataListenFd < 0) {
            fail("could not open a data listener");
            return false;
        }
        {
            std::lock_guard lock{m_mutex};
            m_dataPort = dataPort;
        }
        std::string text = step.text;
        const std::string numbers =
            "127,0,0,1," + std::to_string(dataPort / 256) + "," + std::to_string(dataPort % 256);
        if (auto at = text.find("{pasv}"); at != std::string::npos)
            text.replace(at, 6, numbers);
        if (auto at = text.find("{port}"); at != std::string::npos)
            text.replace(at, 6, std::to_string(dataPort / 256) + "," + std::to_string(dataPort % 256));
        if (auto at = text.find("{epsv}"); at != std::string::npos)
            text.replace(at, 6, std::to_string(dataPort));
        return sendAll(m_controlFd, text + "\r\n");
    }
    case Step::DataAccept: {
        if (m_dataListenFd < 0 || !waitReadable(m_dataListenFd)) {
            fail("no data connection arrived");
            return false;
        }
        closeFd(m_dataFd);
        m_dataFd = ::accept4(m_dataListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        closeFd(m_dataListenFd);
        return m_dataFd >= 0;
    }
    case Step::DataConnect: {
        std::string portLine;
        {
            std::lock_guard lock{m_mutex};
            for (auto it = m_received.rbegin(); it != m_received.rend(); ++it)
                if (it->rfind("PORT ", 0) == 0 || it->rfind("EPRT ", 0) == 0) {
                    portLine = *it;
                    break;
                }
        }
        sockaddr_storage address{};
        socklen_t length = 0;
        if (!parseActiveAddress(portLine, address, length)) {
            fail("no usable PORT or EPRT command: \"" + portLine + "\"");
            return false;
        }
        closeFd(m_dataFd);
        m_dataFd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (!step.text.empty() && !bindToAddress(m_dataFd, step.text)) {
            fail("could not bind the data connection to " + step.text);
            return false;
        }
        if (::connect(m_dataFd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
            fail("could not connect to the client's data port");
            return false;
        }
        return true;
    }
    case Step::DataSend:
        return sendAll(m_dataFd, step.text);
    case Step::DataReceive: {
        for (;;) {
            if (!waitReadable(m_dataFd)) {
                fail("the data connection did not end");
                return false;
            }
            char chunk[65536];
            ssize_t n = ::recv(m_dataFd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return true;
            std::lock_guard lock{m_mutex};
            m_dataReceived.append(chunk, static_cast<std::size_t>(n));
        }
    }
    case Step::DataClose:
        closeFd(m_dataFd);
        return true;
    case Step::DataHold:
        waitRelease();
        return true;
    case Step::Trickle:
        for (const char c : step.text) {
            // A client that gave up closed the connection: that ends the step, as it should.
            if (::send(m_controlFd, &c, 1, MSG_NOSIGNAL) != 1 || !pause(std::chrono::milliseconds(200)))
                return true;
        }
        return true;
    }
    return false;
}

} // namespace bw::test
