// SPDX-License-Identifier: MIT
// How the file panes ask the user and reach the desktop: the "Name" dialog, the "Are you sure?"
// question, the warning about a refused command, and opening a file or URL with its default program. Tests
// put their own answers in.
#pragma once

#include <functional>
#include <optional>

#include <QString>
#include <QUrl>

class QWidget;

namespace bw::browse {

struct BrowsePrompts
{
    // The "Name" dialog pre-filled with `text`; nothing when cancelled.
    std::function<std::optional<QString>(QWidget *parent, const QString &text)> askName;
    // A Yes/No question; true only for Yes.
    std::function<bool(QWidget *parent, const QString &text, const QString &caption)> confirm;
    std::function<void(const QUrl &url)> openUrl;
    // A warning about what the user just asked for; may be left empty (nothing is shown then).
    std::function<void(QWidget *parent, const QString &text, const QString &caption)> showError;

    static BrowsePrompts modalDialogs();
};

} // namespace bw::browse
