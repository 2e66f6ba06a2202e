// SPDX-License-Identifier: MIT
// The caption strip on top of every pane. Its colours follow whether the main window is the active
// window, so all panes switch together on activation. GUI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

namespace bw::widgets {

struct CaptionColors
{
    QColor fill;
    QColor text;
};

class CaptionBar : public QWidget
{
    Q_OBJECT

public:
    explicit CaptionBar(const QString &text = QStringLiteral("NoName"), QWidget *parent = nullptr);

    QString text() const { return m_text; }

    void setText(const QString &text);

    // The caption font (the small GUI font at 8 points) and the strip's height: text height plus 4.
    static QFont captionFont();
    static int captionHeight();
    // Fill and text colours for the active or inactive window, from the widget palette.
    static CaptionColors colors(const QPalette &palette, bool active);
    // Whether the caption shows as active now: its window is the active window.
    bool showsActive() const;

    QSize sizeHint() const override;

    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_text;
};

} // namespace bw::widgets
