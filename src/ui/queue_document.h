// SPDX-License-Identifier: MIT
// What the window needs from the queue's document: saving the queue to its file and opening a queue
// file into it. The program's document implements it. GUI thread only.
#pragma once

#include <QString>

namespace bw::ui {

class QueueDocument
{
public:
    virtual ~QueueDocument() = default;

    // Loads `path` into the queue and makes it the document's file.
    virtual bool openDocument(const QString &path) = 0;
    // Saves to the current file; false when there is none or it cannot be written.
    virtual bool save() = 0;
    // The queue file's absolute path (empty before one is opened).
    virtual QString filePath() const = 0;
};

} // namespace bw::ui
