// SPDX-License-Identifier: MIT
// How the file panes ask the user and reach the desktop: the "Name" dialog, the "Are you sure?"
// question, the warning about a refused command, and opening a file or URL with its default program. Tests
// put their own answers in.
#pragma once

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace bw::browse {

struct BrowsePrompts
{
    // A one-line dialog titled `caption`, its box labelled `label` and pre-filled with `text`; nothing
    // when cancelled.
    std::function<std::optional<QString>(
        QWidget *parent, const QString &caption, const QString &label, const QString &text)>
        askName;
    // A Yes/No question; true only for Yes.
    std::function<bool(QWidget *parent, const QString &text, const QString &caption)> confirm;
    std::function<void(const QUrl &url)> openUrl;
    // A warning about what the user just asked for; may be left empty (nothing is shown then).
    std::function<void(QWidget *parent, const QString &text, const QString &caption)> showError;

    static BrowsePrompts modalDialogs();
};

// The question before a delete, naming what goes: "Delete \"a.txt\"?", up to three names, or the first
// three and how many more.
QString deleteQuestion(const QStringList &names);

} // namespace bw::browse
