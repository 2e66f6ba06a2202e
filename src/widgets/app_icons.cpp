// SPDX-License-Identifier: MIT
#include "widgets/app_icons.h"

#include <algorithm>
#include <functional>

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyleOption>

#include "widgets/image_list.h"

namespace bw::widgets {

namespace {

const QColor kBlue(0x2f, 0x6f, 0xb8);
const QColor kGreen(0x2e, 0x9e, 0x4f);
const QColor kOrange(0xe0, 0x8a, 0x1e);
const QColor kRed(0xc8, 0x3a, 0x32);
const QColor kGrey(0x80, 0x86, 0x8c);

using PaintFunction = std::function<void(QPainter &)>;

// Paints a picture drawn in a 0..16 coordinate system at whatever pixel size is asked for, so it is as
// sharp as a vector icon at every size and scale factor (200% asks for twice the pixels).
class PaintedIconEngine : public QIconEngine
{
public:
    explicit PaintedIconEngine(PaintFunction paint)
        : m_paint(std::move(paint))
    {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap picture = pixmap(rect.size() * scale, mode, state);
        picture.setDevicePixelRatio(scale);
        painter->drawPixmap(rect, picture);
    }

    // `size` in device pixels: QIcon::pixmap asks for the logical size times the device pixel ratio.
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        if (side <= 0)
            return {};
        QPixmap picture(side, side);
        picture.fill(Qt::transparent);
        {
            QPainter painter(&picture);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(side / 16.0, side / 16.0);
            m_paint(painter);
        }
        auto *widgetsApp = qobject_cast<QApplication *>(QCoreApplication::instance());
        if (mode != QIcon::Normal && mode != QIcon::Active && widgetsApp) {
            QStyleOption option;
            option.palette = QApplication::palette();
            picture = QApplication::style()->generatedIconPixmap(mode, picture, &option);
        }
        return picture;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }

    QIconEngine *clone() const override { return new PaintedIconEngine(m_paint); }

    QString key() const override { return QStringLiteral("bellwick-painted"); }

    bool isNull() override { return false; }

private:
    PaintFunction m_paint;
};

QIcon paintedIcon(PaintFunction paint)
{
    return QIcon(new PaintedIconEngine(std::move(paint)));
}

// The desktop theme's icon where it has one; Bellwick's painted one otherwise.
QIcon themedIcon(const char *themeName, PaintFunction paint)
{
    if (!themeName)
        return paintedIcon(std::move(paint));
    return QIcon::fromTheme(QLatin1String(themeName), paintedIcon(std::move(paint)));
}

// An arrow pointing down (down = true) or up, in the given colour.
void drawArrow(QPainter &p, const QColor &color, bool down, qreal x = 8, qreal width = 1)
{
    QPainterPath path;
    const qreal w = 3.2 * width;
    if (down) {
        path.moveTo(x - w / 2, 2);
        path.lineTo(x + w / 2, 2);
        path.lineTo(x + w / 2, 8);
        path.lineTo(x + w * 1.3, 8);
        path.lineTo(x, 14);
        path.lineTo(x - w * 1.3, 8);
        path.lineTo(x - w / 2, 8);
    } else {
        path.moveTo(x - w / 2, 14);
        path.lineTo(x + w / 2, 14);
        path.lineTo(x + w / 2, 8);
        path.lineTo(x + w * 1.3, 8);
        path.lineTo(x, 2);
        path.lineTo(x - w * 1.3, 8);
        path.lineTo(x - w / 2, 8);
    }
    path.closeSubpath();
    p.setPen(QPen(color.darker(140), 0.6));
    p.setBrush(color);
    p.drawPath(path);
}

void drawBadge(QPainter &p, const QColor &color)
{
    p.setPen(QPen(color.darker(150), 0.6));
    p.setBrush(color);
    p.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
}

void drawPlug(QPainter &p, const QColor &color, bool broken)
{
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(2, 8), QPointF(broken ? 5.5 : 7, 8));
    p.drawLine(QPointF(broken ? 10.5 : 9, 8), QPointF(14, 8));
    p.setBrush(color);
    p.drawRect(QRectF(broken ? 4.5 : 5.5, 5, 2.5, 6));
    p.drawRect(QRectF(broken ? 9 : 8, 5, 2.5, 6));
}

void drawFolder(QPainter &p, bool plus)
{
    p.setPen(QPen(kOrange.darker(140), 0.6));
    p.setBrush(kOrange);
    QPainterPath path;
    path.moveTo(1.5, 4);
    path.lineTo(6, 4);
    path.lineTo(7.5, 5.5);
    path.lineTo(14.5, 5.5);
    path.lineTo(14.5, 13.5);
    path.lineTo(1.5, 13.5);
    path.closeSubpath();
    p.drawPath(path);
    if (plus) {
        p.setPen(QPen(Qt::white, 1.6));
        p.drawLine(QPointF(8, 7.3), QPointF(8, 12));
        p.drawLine(QPointF(5.7, 9.6), QPointF(10.3, 9.6));
    }
}

void drawCross(QPainter &p, const QColor &color)
{
    p.setPen(QPen(color, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 4), QPointF(12, 12));
    p.drawLine(QPointF(12, 4), QPointF(4, 12));
}

void drawLetter(QPainter &p, const QColor &color, const QString &letter)
{
    p.setPen(QPen(color.darker(150), 0.6));
    p.setBrush(color);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    QFont font;
    font.setBold(true);
    font.setPixelSize(10);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, letter);
}

} // namespace

QIcon programIcon()
{
    // The installed icon (share/icons/hicolor/scalable/apps/bellwick.svg) when the theme finds it.
    return themedIcon("bellwick", [](QPainter &p) {
        drawBadge(p, kBlue);
        drawArrow(p, Qt::white, true);
        p.setPen(QPen(Qt::white, 1.2));
        p.drawLine(QPointF(4, 14.2), QPointF(12, 14.2));
    });
}

const char *toolIconThemeName(ToolIcon which)
{
    switch (which) {
    case ToolIcon::Connect:
        return "network-connect";
    case ToolIcon::TemporaryDisconnect:
        return "media-playback-pause";
    case ToolIcon::Disconnect:
        return "network-disconnect";
    case ToolIcon::CreateRemoteFolder:
        return "folder-new";
    case ToolIcon::RemoteDelete:
        return nullptr; // no common name for it: "edit-delete" would look like the queue's Delete
    case ToolIcon::Go:
        return "media-playback-start";
    case ToolIcon::Delete:
        return "edit-delete";
    case ToolIcon::About:
        return "help-about";
    case ToolIcon::ContextHelp:
        return "help-contextual";
    case ToolIcon::AddUrl:
        return "list-add";
    }
    return nullptr;
}

QIcon toolIcon(ToolIcon which)
{
    return themedIcon(toolIconThemeName(which), [which](QPainter &p) {
        switch (which) {
        case ToolIcon::Connect:
            drawPlug(p, kGreen, false);
            break;
        case ToolIcon::TemporaryDisconnect:
            drawPlug(p, kOrange, true);
            break;
        case ToolIcon::Disconnect:
            drawPlug(p, kRed, true);
            break;
        case ToolIcon::CreateRemoteFolder:
            drawFolder(p, true);
            break;
        case ToolIcon::RemoteDelete:
            drawFolder(p, false);
            drawCross(p, kRed);
            break;
        case ToolIcon::Go: {
            QPainterPath path;
            path.moveTo(4, 2.5);
            path.lineTo(13.5, 8);
            path.lineTo(4, 13.5);
            path.closeSubpath();
            p.setPen(QPen(kGreen.darker(140), 0.6));
            p.setBrush(kGreen);
            p.drawPath(path);
            break;
        }
        case ToolIcon::Delete:
            drawCross(p, kRed);
            break;
        case ToolIcon::About:
            drawLetter(p, kBlue, QStringLiteral("i"));
            break;
        case ToolIcon::ContextHelp:
            drawLetter(p, kGreen, QStringLiteral("?"));
            break;
        case ToolIcon::AddUrl:
            drawLetter(p, kBlue, QStringLiteral("+"));
            break;
        }
    });
}

QIcon trayIcon(TrayImage which)
{
    return paintedIcon([which](QPainter &p) {
        if (which == TrayImage::Manual) {
            drawBadge(p, kOrange);
            drawPlug(p, Qt::white, false);
            return;
        }
        drawBadge(p, which == TrayImage::Idle ? kGrey : kBlue);
        // One bar per load level, rising left to right.
        const int level = static_cast<int>(which);
        for (int bar = 0; bar < 4; ++bar) {
            const qreal height = 2.5 + bar * 2.5;
            p.setPen(Qt::NoPen);
            p.setBrush(bar < level ? QColor(Qt::white) : QColor(255, 255, 255, 70));
            p.drawRect(QRectF(3 + bar * 2.6, 13 - height, 2, height));
        }
    });
}

QIcon queueRowIcon(int image)
{
    return paintedIcon([image](QPainter &p) {
        switch (image) {
        case kImageIdleDownload:
            drawArrow(p, kGrey, true);
            break;
        case kImageIdleUpload:
            drawArrow(p, kGrey, false);
            break;
        case kImageActiveDownload:
            drawArrow(p, kGreen, true);
            break;
        case kImageActiveUpload:
            drawArrow(p, kBlue, false);
            break;
        case kImageManualActive:
            drawPlug(p, kGreen, false);
            break;
        case kImageManualPending:
            drawPlug(p, kOrange, true);
            break;
        default:
            p.setPen(Qt::NoPen);
            p.setBrush(kGrey);
            p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
            break;
        }
    });
}

} // namespace bw::widgets
