// SPDX-License-Identifier: MIT
#include "support/ftp_script.h"

namespace bw::test {

net::FtpSite scriptedSite(const ScriptedServer &server, int connectionId)
{
    return net::FtpSite{"127.0.0.1", server.port(), "u", "p", connectionId};
}

void greetAndLogIn(ScriptedServer &server, const std::string &password)
{
    server.send("220 Ready")
        .reply("USER u", "331 Password please")
        .reply("PASS " + password, "230 Logged in");
}

void passiveListing(ScriptedServer &server, const std::string &listing)
{
    server.expect("PASV");
    server.add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.add(ScriptedServer::Step::DataAccept);
    server.reply("LIST", "150 Here it comes");
    server.add(ScriptedServer::Step::DataSend, listing);
    server.add(ScriptedServer::Step::DataClose);
    server.send("226 Done");
}

void refusedListing(ScriptedServer &server)
{
    server.expect("PASV");
    server.add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.add(ScriptedServer::Step::DataAccept);
    server.reply("LIST", "550 Listing refused");
    server.add(ScriptedServer::Step::DataClose);
}

void startPassiveRetr(ScriptedServer &server, const std::string &name)
{
    server.reply("TYPE I", "200 Binary");
    server.expect("PASV");
    server.add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.add(ScriptedServer::Step::DataAccept);
    server.reply("RETR " + name, "150 Sending");
}

} // namespace bw::test
