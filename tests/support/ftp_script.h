// SPDX-License-Identifier: MIT
// Pieces of FTP scripts that the scripted-server tests play again and again: the greeting and login,
// the site it serves, a passive listing (served or refused) and the start of a passive download.
#pragma once

#include <string>

#include "net/ftp_connection.h"
#include "support/scripted_server.h"

namespace bw::test {

// The scripted server's site on 127.0.0.1 for a login as "u" with password "p".
inline net::FtpSite scriptedSite(const ScriptedServer &server, int connectionId = 1)
{
    return net::FtpSite{"127.0.0.1", server.port(), "u", "p", connectionId};
}

// A Unix listing line of at least 40 characters for a file of `size` bytes.
inline std::string fileLine(const std::string &name, std::size_t size)
{
    return "-rw-r--r--    1 ftp      ftp      " + std::to_string(size) + " Jan 01 12:00 " + name + "\r\n";
}

// "220 Ready", then a login as "u" with `password`.
inline void greetAndLogIn(ScriptedServer &server, const std::string &password = "p")
{
    server.send("220 Ready")
        .reply("USER u", "331 Password please")
        .reply("PASS " + password, "230 Logged in");
}

// PASV with the data connection accepted, then LIST answered `reply`.
inline void passiveList(ScriptedServer &server, const std::string &reply)
{
    server.expect("PASV");
    server.add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.add(ScriptedServer::Step::DataAccept);
    server.reply("LIST", reply);
}

// A passive LIST answered "150 Here it comes" with `listing` (lines ending in CR LF) and "226 Done".
inline void passiveListing(ScriptedServer &server, const std::string &listing)
{
    passiveList(server, "150 Here it comes");
    server.add(ScriptedServer::Step::DataSend, listing);
    server.add(ScriptedServer::Step::DataClose);
    server.send("226 Done");
}

// A passive LIST refused with "550 Listing refused" once the data connection is open.
inline void refusedListing(ScriptedServer &server)
{
    passiveList(server, "550 Listing refused");
    server.add(ScriptedServer::Step::DataClose);
}

// TYPE I, PASV and "RETR <name>" answered "150 Sending" with the data connection accepted; the script
// goes on with what the data connection carries.
inline void startPassiveRetr(ScriptedServer &server, const std::string &name)
{
    server.reply("TYPE I", "200 Binary");
    server.expect("PASV");
    server.add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.add(ScriptedServer::Step::DataAccept);
    server.reply("RETR " + name, "150 Sending");
}

} // namespace bw::test
