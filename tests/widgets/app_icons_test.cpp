// SPDX-License-Identifier: MIT
// Bellwick's icons at the desktop's scale factor (the test runs at 200%) and from the icon theme.
#include <vector>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include "widgets/app_icons.h"
#include "widgets/image_list.h"

using namespace bw::widgets;

namespace {

struct NamedIcon
{
    const char *name;
    QIcon icon;
};

std::vector<NamedIcon> paintedIcons()
{
    return {
        {"program", programIcon()},
        {"remote delete", toolIcon(ToolIcon::RemoteDelete)},
        {"go", toolIcon(ToolIcon::Go)},
        {"tray", trayIcon(TrayImage::Load3)},
        {"queue row", queueRowIcon(kImageActiveDownload)},
    };
}

// Makes the icon theme `name` in `root` with one folder of icons, `folder`, that index.theme describes
// with `keys`. Returns that folder's path; empty when it could not be written.
QString makeTheme(const QString &root, const QString &name, const QString &folder, const QByteArray &keys)
{
    const QDir dir(root);
    QFile index(dir.filePath(name + QStringLiteral("/index.theme")));
    if (!dir.mkpath(name + QLatin1Char('/') + folder) || !index.open(QIODevice::WriteOnly))
        return {};
    const QByteArray folderKey = folder.toUtf8();
    index.write("[Icon Theme]\nName=" + name.toUtf8() + "\nDirectories=" + folderKey + "\n\n[" + folderKey
        + "]\n" + keys);
    return dir.filePath(name + QLatin1Char('/') + folder);
}

} // namespace

class AppIconsTest : public QObject
{
    Q_OBJECT

private slots:

    void initTestCase()
    {
        // No theme: every icon is Bellwick's painted one.
        QIcon::setThemeSearchPaths({});
        QCOMPARE(qGuiApp->devicePixelRatio(), 2.0);
    }

    void paintedIconsHaveEveryPixelAtTwiceTheScale()
    {
        for (const NamedIcon &named : paintedIcons()) {
            for (int size : {16, 22, 48, 128}) {
                // What a toolbar or list asks for at 200%: the logical size, at the screen's ratio.
                const QPixmap pixmap = named.icon.pixmap(QSize(size, size), qGuiApp->devicePixelRatio());
                QVERIFY2(pixmap.size() == QSize(2 * size, 2 * size),
                    qPrintable(QStringLiteral("%1 at %2: %3 pixels")
                                   .arg(QLatin1String(named.name))
                                   .arg(size)
                                   .arg(pixmap.width())));
                QCOMPARE(pixmap.devicePixelRatio(), 2.0);
            }
        }
    }

    void paintedAtTheTargetSizeNotScaledFromAnother()
    {
        // Drawn for 44 pixels, an edge is as sharp as when drawn for 22 pixels at 2x: the two are the
        // same picture. A picture scaled down from 48 pixels would have blurred edges instead.
        const QIcon icon = toolIcon(ToolIcon::Go);
        const QImage direct = icon.pixmap(QSize(44, 44), 1.0).toImage();
        const QImage scaled = icon.pixmap(QSize(22, 22), 2.0).toImage();
        QCOMPARE(scaled.size(), direct.size());
        QImage scaledPixels = scaled.convertToFormat(QImage::Format_ARGB32);
        scaledPixels.setDevicePixelRatio(1.0);
        QCOMPARE(scaledPixels, direct.convertToFormat(QImage::Format_ARGB32));

        // Painted into a 2x device: every device pixel covered, none left transparent by scaling.
        QImage device(QSize(44, 44), QImage::Format_ARGB32_Premultiplied);
        device.setDevicePixelRatio(2.0);
        device.fill(Qt::transparent);
        {
            QPainter painter(&device);
            icon.paint(&painter, QRect(0, 0, 22, 22));
        }
        QImage devicePixels = device.convertToFormat(QImage::Format_ARGB32);
        devicePixels.setDevicePixelRatio(1.0);
        QCOMPARE(devicePixels, direct.convertToFormat(QImage::Format_ARGB32));
    }

    void theThemesIconWinsWhereItHasOne()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString icons = makeTheme(dir.path(), QStringLiteral("testtheme"),
            QStringLiteral("16x16/actions"), "Size=16\nType=Fixed\n");
        QVERIFY(!icons.isEmpty());
        QImage red(16, 16, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(icons + QStringLiteral("/list-add.png")));

        QIcon::setThemeSearchPaths({dir.path()});
        QIcon::setThemeName(QStringLiteral("testtheme"));
        const QIcon themed = toolIcon(ToolIcon::AddUrl);
        const QIcon painted = toolIcon(ToolIcon::Delete); // the theme has no edit-delete
        // A theme icon looks itself up again when the theme changes: check it while the theme is set.
        const QString themedName = themed.name();
        const QColor themedPixel = themed.pixmap(QSize(16, 16), 1.0).toImage().pixelColor(8, 8);
        const QString paintedName = painted.name();
        QIcon::setThemeSearchPaths({});
        QIcon::setThemeName(QString());

        QCOMPARE(themedName, QStringLiteral("list-add"));
        QCOMPARE(themedPixel, QColor(Qt::red));
        QVERIFY(!painted.isNull());
        QVERIFY(paintedName.isEmpty());
        QCOMPARE(QLatin1String(toolIconThemeName(ToolIcon::Delete)), QLatin1String("edit-delete"));
    }

    // Most desktop themes draw their icons in SVG: without Qt's SVG plugins they would all be blank.
    void svgThemeIconsRender()
    {
        QVERIFY2(QImageReader::supportedImageFormats().contains("svg"), "the Qt SVG image plugin is missing");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString icons = makeTheme(dir.path(), QStringLiteral("svgtheme"),
            QStringLiteral("scalable/actions"), "Size=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
        QVERIFY(!icons.isEmpty());
        QFile svg(icons + QStringLiteral("/list-add.svg"));
        QVERIFY(svg.open(QIODevice::WriteOnly));
        svg.write("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
                  "<rect width=\"16\" height=\"16\" fill=\"#0000ff\"/></svg>");
        svg.close();

        QIcon::setThemeSearchPaths({dir.path()});
        QIcon::setThemeName(QStringLiteral("svgtheme"));
        const QIcon themed = toolIcon(ToolIcon::AddUrl);
        const QString name = themed.name();
        const QImage image = themed.pixmap(QSize(16, 16), 1.0).toImage();
        QIcon::setThemeSearchPaths({});
        QIcon::setThemeName(QString());

        QCOMPARE(name, QStringLiteral("list-add"));
        QVERIFY(!image.isNull());
        QCOMPARE(image.pixelColor(8, 8), QColor(Qt::blue));
    }
};

int main(int argc, char **argv)
{
    // The desktop at 200%.
    qputenv("QT_SCALE_FACTOR", "2");
    QGuiApplication app(argc, argv);
    AppIconsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "app_icons_test.moc"
