// SPDX-License-Identifier: MIT
// The scripted exchange of a download that never ends: the job finds its folder, lists the file, and
// receives part of it, after which the server holds the data connection open. Tests of stopping and
// removing use it to catch a job in the middle of a transfer.
#pragma once

#include <cstddef>
#include <string>

#include "support/scripted_server.h"

namespace bw::test {

// After the login: PWD, "cwd `folder`", a passive LIST of `name` showing `listedBytes`, TYPE I, and a
// passive RETR that sends `sentBytes` bytes of 'h' and then holds.
void scriptHeldDownload(ScriptedServer &server, const std::string &folder, const std::string &name,
    std::size_t listedBytes, std::size_t sentBytes);

} // namespace bw::test
