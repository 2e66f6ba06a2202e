// SPDX-License-Identifier: MIT
#include "support/held_download_script.h"

namespace bw::test {

void scriptHeldDownload(ScriptedServer &server, const std::string &folder, const std::string &name,
    std::size_t listedBytes, std::size_t sentBytes)
{
    using Step = ScriptedServer::Step;
    server.reply("PWD", "257 \"/\" is the current directory");
    server.reply("cwd " + folder, "250 ok");
    server.expect("PASV");
    server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("LIST " + name, "150 here");
    server.add(Step::DataAccept);
    server.add(Step::DataSend,
        "-rw-r--r--    1 ftp      ftp      " + std::to_string(listedBytes) + " Jan 01 12:00 " + name
            + "\r\n");
    server.add(Step::DataClose);
    server.send("226 done");
    server.reply("TYPE I", "200 binary");
    server.expect("PASV");
    server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("RETR " + name, "150 here");
    server.add(Step::DataAccept);
    server.add(Step::DataSend, std::string(sentBytes, 'h'));
    server.add(Step::DataHold);
}

} // namespace bw::test
