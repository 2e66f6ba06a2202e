// SPDX-License-Identifier: MIT
// A whole transfer job stopped in each wait of an FTP item (look-up, connect, greeting, TLS handshake,
// every reply, accept, transfer, listing) ends within a second and leaves its item to be tried again.
#include <chrono>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <poll.h>

#include "core/queue_list.h"
#include "engine/transfer_job.h"
#include "net/error_code.h"
#include "support/ftp_script.h"
#include "support/scripted_server.h"
#include "support/silent_listener.h"
#include "support/stalled_network.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace bw::test {
namespace {

using namespace std::chrono_literals;
using Step = ScriptedServer::Step;

// What the job talks to. The scripted server holds once it has read `heldLine`, keeping any data
// connection open without sending.
enum class Peer
{
    Script,
    SilentListener, // accepts, never greets
    FullBacklog, // never accepts
    BlockedLookup, // the host name is never resolved
};

struct StopCase
{
    const char *wait;
    Peer peer;
    std::string scheme = "ftp";
    bool passive = true;
    std::function<void(ScriptedServer &)> script = {};
    std::string heldLine = {}; // the last line the server reads before it holds
};

void inFolder(ScriptedServer &server)
{
    greetAndLogIn(server);
    server.reply("PWD", "257 \"/\" is the current directory").reply("cwd /d/", "250 ok");
}

// The folder, then a passive listing of f.bin that shows a 100-byte file.
void listed(ScriptedServer &server)
{
    inFolder(server);
    server.expect("PASV").add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("LIST f.bin", "150 here").add(Step::DataAccept);
    server.add(Step::DataSend, "-rw-r--r--    1 ftp      ftp      100 Jan 01 12:00 f.bin\r\n");
    server.add(Step::DataClose).send("226 done");
}

void retrieving(ScriptedServer &server)
{
    listed(server);
    startPassiveRetr(server, "f.bin");
}

const StopCase kCases[] = {
    {"name look-up", Peer::BlockedLookup},
    {"connect", Peer::FullBacklog},
    {"greeting", Peer::SilentListener},
    {"TLS handshake", Peer::Script, "ftpes", true,
        [](ScriptedServer &s) {
            s.send("220 Ready").reply("AUTH TLS", "234 Proceed").add(Step::ExpectBytes, "(TLS hello)");
        },
        "(TLS hello)"},
    {"USER reply", Peer::Script, "ftp", true, [](ScriptedServer &s) { s.send("220 Ready").expect("USER u"); },
        "USER u"},
    {"PASS reply", Peer::Script, "ftp", true,
        [](ScriptedServer &s) {
            s.send("220 Ready").reply("USER u", "331 Password please").expect("PASS p");
        },
        "PASS p"},
    {"PWD reply", Peer::Script, "ftp", true, [](ScriptedServer &s) { greetAndLogIn(s), s.expect("PWD"); },
        "PWD"},
    {"CWD reply", Peer::Script, "ftp", true,
        [](ScriptedServer &s) { greetAndLogIn(s), s.reply("PWD", "257 \"/\" is here").expect("cwd /d/"); },
        "cwd /d/"},
    {"MKD reply", Peer::Script, "ftpu", true,
        [](ScriptedServer &s) {
            greetAndLogIn(s);
            s.reply("PWD", "257 \"/\" is here").reply("cwd /d/", "550 No").reply("cwd d/", "550 No");
            s.reply("cwd /", "250 ok").reply("cwd d", "550 No").expect("mkd d");
        },
        "mkd d"},
    {"PASV reply", Peer::Script, "ftp", true, [](ScriptedServer &s) { inFolder(s), s.expect("PASV"); },
        "PASV"},
    {"listing", Peer::Script, "ftp", true,
        [](ScriptedServer &s) {
            inFolder(s);
            passiveList(s, "150 here");
            s.add(Step::DataSend, "-rw-r--r--    1 ftp      ftp      100 Jan 01 12:00 f");
            s.add(Step::DataHold);
        },
        "LIST"},
    {"TYPE reply", Peer::Script, "ftp", true, [](ScriptedServer &s) { listed(s), s.expect("TYPE I"); },
        "TYPE I"},
    {"active accept", Peer::Script, "ftp", false,
        [](ScriptedServer &s) {
            inFolder(s), s.expect("").send("200 PORT ok").reply("LIST f.bin", "150 here");
        },
        "LIST f.bin"},
    {"transfer", Peer::Script, "ftp", true,
        [](ScriptedServer &s) { retrieving(s), s.add(Step::DataSend, "12345").add(Step::DataHold); },
        "RETR f.bin"},
    {"closing reply", Peer::Script, "ftp", true,
        [](ScriptedServer &s) {
            retrieving(s);
            s.add(Step::DataSend, std::string(100, 'x')).add(Step::DataClose);
        },
        "RETR f.bin"},
};

bool hasPendingConnection(const SilentListener &listener)
{
    pollfd entry{listener.fd(), POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

TEST(TransferJobStop, EveryWaitEndsWithinASecondAndLeavesTheItemIdle)
{
    for (const StopCase &c : kCases) {
        SCOPED_TRACE(c.wait);
        ScriptedServer server;
        SilentListener silent;
        FullBacklog backlog;
        core::QueueList queue;
        TempDir local;
        std::int32_t id = 0;
        if (c.script) {
            c.script(server);
            server.hold();
            server.start();
        }
        const bool lookup = c.peer == Peer::BlockedLookup;
        const int port = c.peer == Peer::SilentListener ? silent.port()
            : c.peer == Peer::FullBacklog               ? backlog.port()
                                                        : server.port();
        // A connect gives no sign from outside: the stop may come while it is starting.
        const std::function<bool()> reached = [&] {
            switch (c.peer) {
            case Peer::BlockedLookup:
                return BlockedLookup::entered.load();
            case Peer::SilentListener:
                return hasPendingConnection(silent);
            case Peer::FullBacklog:
                return core::snapshotOrVanished(queue, id).status == core::ItemStatus::StatusConnecting;
            case Peer::Script:
                break;
            }
            const auto lines = server.received();
            return !lines.empty() && lines.back().starts_with(c.heldLine);
        };
        id = queue.addItem(c.scheme + "://u:p@" + (lookup ? "stuck.example" : "127.0.0.1") + ":"
                + std::to_string(port) + "/d/f.bin",
            (local / "f.bin").string(), 0, -1, -1, 60, c.passive ? 1 : 0);
        engine::TransferJobTiming timing;
        timing.resolver = lookup ? &BlockedLookup::resolve : nullptr;
        engine::TransferJob job(timing);
        ASSERT_TRUE(job.start(queue));
        ASSERT_TRUE(waitUntil(reached)) << "the job never reached the wait";
        ASSERT_FALSE(job.hasEnded());

        const auto stopped = std::chrono::steady_clock::now();
        job.abort(net::StopByEngine);
        EXPECT_TRUE(waitUntil([&] { return job.hasEnded(); }, 1s)) << "the stop was not seen within a second";
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
        EXPECT_EQ(core::snapshotOrVanished(queue, id).status, core::ItemStatus::StatusIdle);
        if (lookup)
            BlockedLookup::release(); // the look-up thread finishes on its own; its answer is dropped
    }
}

} // namespace
} // namespace bw::test
