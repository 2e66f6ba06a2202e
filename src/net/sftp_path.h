// SPDX-License-Identifier: MIT
// Remote paths of an SFTP session, which keeps its own current folder: a name is read against the
// current folder, "/~/x" against the folder the login started in (as curl reads such URLs), and "." and
// ".." are folded. Pure text functions.
#pragma once

#include <string>

namespace bw::net {

// The absolute path `path` names from `current` (both absolute), `login` standing for "~".
std::string sftpResolvePath(const std::string &current, const std::string &login, const std::string &path);

// `path` with empty, "." and ".." segments folded away ("/" at the top).
std::string sftpNormalPath(const std::string &path);

} // namespace bw::net
