// SPDX-License-Identifier: MIT
// A list of small row images addressed by index, as the list views use them. GUI thread only.
#pragma once

#include <QIcon>
#include <QList>

namespace bw::widgets {

class ImageList
{
public:
    virtual ~ImageList() = default;

    int count() const { return static_cast<int>(m_icons.size()); }

    // An invalid index gives a null icon.
    QIcon icon(int index) const;
    // Appends and returns the new index.
    int add(const QIcon &icon);

private:
    QList<QIcon> m_icons;
};

// The shared strip of 32 row images (20 x 20) all panes use by default: 12 is the log line, 21 to 26
// the queue rows (idle, active and manual), 1 a fresh queue row.
constexpr int kListImageCount = 32;
constexpr int kListImageSize = 20;
constexpr int kImageLogLine = 12;
constexpr int kImageFresh = 1;
constexpr int kImageIdleDownload = 21;
constexpr int kImageIdleUpload = 22;
constexpr int kImageActiveDownload = 23;
constexpr int kImageActiveUpload = 24;
constexpr int kImageManualActive = 25;
constexpr int kImageManualPending = 26;
const ImageList &listStripImages();

} // namespace bw::widgets
