// SPDX-License-Identifier: MIT
// Hides the password of a queue URL behind a fixed mask for editing, and puts the real one back when
// the user left the mask as it was: the window's QString face of core/url_password_mask.h.
#pragma once

#include <QString>

namespace bw::ui {

// What stands in for a hidden password; its length says nothing about the real one.
inline const QString kPasswordMask = QStringLiteral("********"); // core::kPasswordMask

// `url` with the password of its user information replaced by the mask; unchanged when it holds none.
QString maskUrlPassword(const QString &url);

// `edited` with its password put back from `original` when it still shows the mask; any other
// password (a new one typed by the user) is kept.
QString unmaskUrlPassword(const QString &edited, const QString &original);

} // namespace bw::ui
