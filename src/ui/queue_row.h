// SPDX-License-Identifier: MIT
// The rules that turn one queue item into the texts and image of its row in the queue view: which tab
// shows it, the progress percent, the "Action" text and the row image. Pure functions, so every rule
// can be checked without a window.
#pragma once

#include <cstdint>

#include <QString>

#include "widgets/image_list.h"

namespace bw::ui {

// The four tabs of the queue view, in tab order.
enum class QueueTab
{
    Queue = 0,
    Active = 1,
    Complete = 2,
    Errors = 3,
};
constexpr int kQueueTabCount = 4;

// Row images of the shared list image strip.
using widgets::kImageActiveDownload;
using widgets::kImageActiveUpload;
using widgets::kImageFresh;
using widgets::kImageIdleDownload;
using widgets::kImageIdleUpload;
using widgets::kImageManualActive;
using widgets::kImageManualPending;

// Statuses the queue view treats specially.
constexpr int kStatusInactiveManual = 133;
constexpr int kStatusTransferring = 132;

// Finished, queued for removal, manual connection complete: these leave the queue at the next full refresh.
bool isCompletedStatus(int status);

// Whether an item with this status belongs in the tab. Items marked for removal are shown in no tab.
bool belongsInTab(QueueTab tab, int status, bool removeWhenDone);

// Progress in whole percent of `totalBytes`; 0 while the total is below 100 bytes.
int progressPercent(std::int64_t bytesDone, std::int64_t totalBytes);

struct RowAction
{
    QString text;
    int image = kImageActiveDownload;
};

// The "Action" text and image for a status. A pending manual connection (133) reads "Manual - Pending";
// the view turns it into "Manual - Active" once it has handed the item to the remote browser.
RowAction rowAction(int status, bool upload, std::int64_t totalBytes, int percent);

// "Bytes": "done (P%)" once the total is at least 100 bytes, else the bare byte count.
QString bytesText(std::int64_t bytesDone, std::int64_t totalBytes, int percent);

// "Count": "attempts/limit", or the bare attempts when the limit is 9999 or more (no real limit).
QString countText(int attempts, int retryCount);

} // namespace bw::ui
