// SPDX-License-Identifier: MIT
// A one-client server on 127.0.0.1:0 (or [::1]:0) that plays a script on its own thread: it reads the
// client's lines (or a whole request header) and answers with exact bytes, can hold until the test
// releases it, drop the connection, and open a data connection for passive or active FTP transfers.
// Everything the client sent is recorded for an exact comparison.
// Unless EPSV is scripted (scriptEpsv), it plays a server that does not know EPSV: an EPSV where the
// script expects another line is answered "500 EPSV not understood" and is not recorded, so scripts
// written for PASV compare unchanged. Likewise a FEAT the script does not expect is answered
// "500 FEAT not understood" (a server without features) and not recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bw::test {

class ScriptedServer
{
public:
    struct Step
    {
        enum Kind
        {
            Accept, // accept the next control connection (the first one is implicit)
            Expect, // read one line; `text` is what is expected ("" accepts any line)
            ExpectHeader, // read up to and including the blank line ending a request header
            ExpectBytes, // read whatever comes next (a TLS hello), recording `text` in its place
            Send, // send `text` followed by CR LF
            SendRaw, // send `text` exactly
            Hold, // wait until release() is called
            Drop, // close the control connection
            Reset, // close the control connection with a reset (RST) instead of an orderly close
            ExpectClose, // read until the client closes the connection
            PassiveListen, // open a data listener; in `text`, "{pasv}" becomes h1,h2,h3,h4,p1,p2,
                           // "{port}" p1,p2 and "{epsv}" the port number
            DataAccept, // accept the data connection on that listener
            DataConnect, // connect to the address of the last PORT or EPRT command received, from
                         // the IPv4 address in `text` when one is given (another host, as it were)
            DataSend, // send `text` on the data connection
            DataReceive, // read the data connection until the client closes it
            DataClose, // close the data connection
            DataHold, // keep the data connection open without sending until release()
            Trickle, // send `text` one byte every 200 ms, until its end or until the client leaves
        };

        Kind kind;
        std::string text;
    };

    enum class Loopback
    {
        V4, // 127.0.0.1
        V6, // ::1
    };

    // Binds the listener at once, so port() is valid before start().
    explicit ScriptedServer(Loopback loopback = Loopback::V4);
    // Releases every hold, closes everything and joins the thread.
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    int port() const { return m_port; }

    // Building the script (before start()).
    ScriptedServer &add(Step::Kind kind, std::string text = {});

    ScriptedServer &send(std::string line) { return add(Step::Send, std::move(line)); }

    ScriptedServer &sendRaw(std::string bytes) { return add(Step::SendRaw, std::move(bytes)); }

    ScriptedServer &expect(std::string line) { return add(Step::Expect, std::move(line)); }

    // Expect a line, then answer it with one reply line.
    ScriptedServer &reply(std::string line, std::string answer);
    // A list of {client line, reply} pairs.
    ScriptedServer &script(const std::vector<std::pair<std::string, std::string>> &exchanges);

    ScriptedServer &hold() { return add(Step::Hold); }

    ScriptedServer &drop() { return add(Step::Drop); }

    void start();
    // Lets the current (or next) Hold or DataHold step go on.
    void release();

    // Waits up to `limit` for the script to end; true when it has.
    bool waitFinished(std::chrono::milliseconds limit = std::chrono::seconds(20));
    bool finished() const;

    // What the client sent: each line without its line break; a request header as one entry.
    std::vector<std::string> received() const;
    // Bytes read from the data connection.
    std::string dataReceived() const;
    // Mismatches and failures of the script ("expected X, got Y"); empty when it played cleanly.
    std::vector<std::string> failures() const;
    // The data listener's port once a PassiveListen step ran.
    int dataPort() const;

    // EPSV lines are then played and recorded like any other (before start()).
    void scriptEpsv() { m_scriptsEpsv = true; }

    // Limit for each read and accept of the script.
    void setStepTimeout(std::chrono::milliseconds limit) { m_stepTimeout = limit; }

private:
    void run();
    bool runStep(const Step &step);
    bool readLine(int fd, std::string &line);
    bool waitReadable(int fd);
    bool sendAll(int fd, const std::string &bytes);
    void fail(const std::string &message);
    void waitRelease();
    // Waits `limit` unless the server is being destroyed; false then.
    bool pause(std::chrono::milliseconds limit);
    void record(const std::string &line);

    std::vector<Step> m_steps;
    Loopback m_loopback = Loopback::V4;
    bool m_scriptsEpsv = false;
    int m_listenFd = -1;
    int m_port = 0;
    int m_controlFd = -1;
    int m_dataListenFd = -1;
    int m_dataFd = -1;
    std::string m_pending; // control bytes read past the last line
    std::string m_lastPort;
    std::chrono::milliseconds m_stepTimeout{10000};
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_received; // guarded by m_mutex
    std::vector<std::string> m_failures; // guarded by m_mutex
    std::string m_dataReceived; // guarded by m_mutex
    int m_dataPort = 0; // guarded by m_mutex
    int m_releases = 0; // guarded by m_mutex
    bool m_finished = false; // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex
};

} // namespace bw::test
