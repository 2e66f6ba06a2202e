// SPDX-License-Identifier: MIT
// Pieces of FTP scripts that the scripted-server tests play again and again: the greeting and login,
// the site it serves, a passive listing (served or refused) and the start of a passive download.
#pragma once

#include <string>

#include "net/ftp_connection.h"
#include "support/scripted_server.h"

namespace bw::test {

// The scripted server's site on 127.0.0.1 for a login as "u" with password "p".
net::FtpSite scriptedSite(const ScriptedServer &server, int connectionId = 1);

// "220 Ready", then a login as "u" with `password`.
void greetAndLogIn(ScriptedServer &server, const std::string &password = "p");

// PASV, then LIST answered "150 Here it comes" with `listing` (lines ending in CR LF) on the data
// connection and "226 Done".
void passiveListing(ScriptedServer &server, const std::string &listing);

// PASV, then LIST refused with "550 Listing refused" once the data connection is open.
void refusedListing(ScriptedServer &server);

// TYPE I, PASV and "RETR <name>" answered "150 Sending" with the data connection accepted; the script
// goes on with what the data connection carries.
void startPassiveRetr(ScriptedServer &server, const std::string &name);

} // namespace bw::test
