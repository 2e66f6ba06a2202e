// SPDX-License-Identifier: MIT
#include <algorithm>
#include <utility>
#include <vector>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "widgets/file_icon_list.h"
#include "widgets/image_list.h"
#include "widgets/list_colors.h"
#include "widgets/tiled_list_ctrl.h"
#include "widgets/tiled_row_delegate.h"

using namespace bw::widgets;

namespace {

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(FileIconList::kIconSize, FileIconList::kIconSize).toImage();
}

// The bar of a row's cell as the delegate places it (column 0 starts after the row image).
QRect barCell(const TiledListCtrl &list, int row, int column)
{
    QRect cell = list.visualRect(list.listModel()->index(row, column));
    if (column == 0)
        cell.adjust(kListImageSize + 2, 0, 0, 0);
    return cell;
}

// The contrast of the text inside `area` against its background, measured in the picture: the
// background is the area's median colour, the text the pixel that differs most from it.
double pictureContrast(const QImage &image, const QRect &area)
{
    std::vector<std::pair<qreal, QRgb>> pixels;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            pixels.emplace_back(relativeLuminance(QColor(image.pixel(x, y))), image.pixel(x, y));
    }
    if (pixels.empty())
        return 0;
    std::sort(pixels.begin(), pixels.end());
    const QColor background(pixels[pixels.size() / 2].second);
    const qreal median = pixels[pixels.size() / 2].first;
    const auto &extreme =
        median - pixels.front().first > pixels.back().first - median ? pixels.front() : pixels.back();
    return contrastRatio(background, QColor(extreme.second));
}

QPalette darkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    return dark;
}

} // namespace

class TiledListTest : public QObject
{
    Q_OBJECT

private slots:

    void progressBarGeometry_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("hasBar");
        QTest::addColumn<int>("filledWidth");
        // A cell 101 pixels wide gives a track of 100: the bar stops 1 pixel before the next column.
        QTest::newRow("no bar at 0") << 0 << false << 0;
        QTest::newRow("no bar below 0") << -1 << false << 0;
        QTest::newRow("one percent") << 1 << true << 1;
        QTest::newRow("half") << 50 << true << 50;
        QTest::newRow("full") << 100 << true << 100;
        QTest::newRow("more than full stays in the bar") << 250 << true << 100;
    }

    void progressBarGeometry()
    {
        QFETCH(int, percent);
        QFETCH(bool, hasBar);
        QFETCH(int, filledWidth);
        const QRect cell(10, 20, 101, 22); // middle at y 31
        const auto bar = progressBarRects(cell, percent);
        QCOMPARE(bar.has_value(), hasBar);
        if (!bar)
            return;
        QCOMPARE(bar->track.left(), 10);
        QCOMPARE(bar->track.width(), 100);
        QCOMPARE(bar->track.top(), 31 - 4);
        QCOMPARE(bar->track.bottom(), 31 + 6);
        QCOMPARE(bar->filled.left(), 10);
        QCOMPARE(bar->filled.width(), filledWidth);
        QCOMPARE(bar->filled.height(), bar->track.height());
    }

    void paintsTheBarInItsColours()
    {
        TiledListCtrl list;
        QAbstractItemModelTester tester(
            list.listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.insertColumn(0, QStringLiteral("Action"), 200);
        list.insertColumn(1, QStringLiteral("Host"), 90);
        list.resize(400, 200);
        for (int percent : {50, 0, 50}) {
            const int row = list.appendItem({QString(), QStringLiteral("host")}, -1);
            list.setRecord(row, RowRecord{percent, 0, row + 1, {}});
        }
        list.selectRow(2); // a highlighted row shows the highlight, not the bar
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QImage image = list.viewport()->grab().toImage();

        const auto half = progressBarRects(barCell(list, 0, 0), 50);
        QVERIFY(half);
        const int y = half->track.center().y();
        QCOMPARE(image.pixel(half->filled.left() + 2, y), kProgressFillColor);
        QCOMPARE(image.pixel(half->filled.right() - 2, y), kProgressFillColor);
        QCOMPARE(image.pixel(half->filled.right() + 3, y), kProgressTrackColor);
        QCOMPARE(image.pixel(half->track.right() - 2, y), kProgressTrackColor);

        const QRect none = barCell(list, 1, 0);
        const QRgb atZero = image.pixel(none.left() + 20, none.center().y());
        QVERIFY(atZero != kProgressFillColor && atZero != kProgressTrackColor);

        const QRect selected = barCell(list, 2, 0);
        const QRgb highlighted = image.pixel(selected.left() + 20, selected.center().y());
        QVERIFY(highlighted != kProgressFillColor && highlighted != kProgressTrackColor);
    }

    void textStaysReadableInTheThemesColours_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QPalette(Qt::black, QColor(239, 239, 239), Qt::white, Qt::darkGray,
            Qt::gray, Qt::black, Qt::white, Qt::white, QColor(239, 239, 239));
        QTest::newRow("dark") << darkPalette();
        QPalette brightHighlight = darkPalette();
        brightHighlight.setColor(QPalette::Highlight, QColor(255, 255, 160));
        QTest::newRow("dark with a bright highlight") << brightHighlight;
    }

    void textStaysReadableInTheThemesColours()
    {
        QFETCH(QPalette, palette);
        TiledListCtrl list;
        QAbstractItemModelTester tester(
            list.listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.setPalette(palette);
        list.insertColumn(0, QStringLiteral("File"), 300);
        list.resize(400, 200);
        const QString text = QStringLiteral("WWWWWWWW llll MMMMMMMM");
        list.appendItem({text});
        const int withBar = list.appendItem({text});
        list.setRecord(withBar, RowRecord{90, 0, 7, {}});
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QImage image = list.viewport()->grab().toImage();

        // The plain row, between the row image and the end of the text, away from the focus frame.
        const QRect plain = barCell(list, 0, 0).adjusted(8, 3, -100, -3);
        const double plainContrast = pictureContrast(image, plain);
        QVERIFY2(plainContrast >= 4.5, qPrintable(QString::number(plainContrast)));
        // The text over the filled part of the progress bar.
        const auto bar = progressBarRects(barCell(list, withBar, 0), 90);
        QVERIFY(bar);
        const double barContrast = pictureContrast(image, bar->filled.adjusted(8, 1, -8, -1));
        QVERIFY2(barContrast >= 4.5, qPrintable(QString::number(barContrast)));
        // The picture behind the rows is in the theme's colours, too.
        const QColor tile = list.backgroundTile().toImage().pixel(3, 100);
        QVERIFY2(contrastRatio(tile, palette.color(QPalette::Text)) >= 4.5, qPrintable(tile.name()));
    }

    void theDefaultPictureFollowsAPaletteChange()
    {
        TiledListCtrl list;
        const QColor before = list.backgroundTile().toImage().pixel(3, 100);
        list.setPalette(darkPalette());
        const QColor after = list.backgroundTile().toImage().pixel(3, 100);
        QVERIFY(relativeLuminance(after) < relativeLuminance(before));
        QVERIFY(contrastRatio(after, QColor(230, 230, 230)) >= 4.5);

        // A picture the owner chose stays.
        QPixmap own(10, 10);
        own.fill(Qt::red);
        list.setBackgroundTile(own);
        list.setPalette(QPalette());
        QCOMPARE(QColor(list.backgroundTile().toImage().pixel(1, 1)), QColor(Qt::red));
    }

    void plainRowsWithoutAPicture()
    {
        TiledListCtrl list;
        list.setBackgroundTile(QPixmap());
        QVERIFY(!list.hasBackgroundTile());
        list.insertColumn(0, QStringLiteral("Entry"), 200);
        list.resize(300, 120);
        list.appendItem({QString()});
        list.appendItem({QString()});
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QImage image = list.viewport()->grab().toImage();
        // Row 1: row 0 becomes the current row and carries the focus frame.
        const QRect cell = list.visualRect(list.listModel()->index(1, 0));
        QCOMPARE(QColor(image.pixel(cell.center())), list.palette().color(QPalette::Base));
    }

    void findsRowsByItemIdThroughEdits()
    {
        TiledListCtrl list;
        QAbstractItemModelTester tester(
            list.listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.insertColumn(0, QStringLiteral("Action"), 150);
        for (int id = 10; id < 15; ++id)
            list.setRecord(list.appendItem({QString::number(id)}), RowRecord{0, 0, id, {}});
        QCOMPARE(list.findItemId(12), 2);
        QVERIFY(list.deleteItem(1));
        QCOMPARE(list.findItemId(11), -1);
        QCOMPARE(list.findItemId(13), 2);
        QCOMPARE(list.itemText(2, 0), QStringLiteral("13"));
        // A row inserted in the middle moves the rows below it.
        list.setRecord(list.insertItem(0, QStringLiteral("7")), RowRecord{0, 0, 7, {}});
        QCOMPARE(list.findItemId(7), 0);
        QCOMPARE(list.findItemId(14), 4);
        // A row that takes another id is found by the new one only.
        list.setRecord(4, RowRecord{0, 0, 99, {}});
        QCOMPARE(list.findItemId(14), -1);
        QCOMPARE(list.findItemId(99), 4);
        // Two rows with one id: the upper row is found, and the lower one once the upper is gone.
        list.setRecord(list.appendItem({QStringLiteral("dup")}), RowRecord{0, 0, 7, {}});
        QCOMPARE(list.findItemId(7), 0);
        QVERIFY(list.deleteItem(0));
        QCOMPARE(list.findItemId(7), list.rowCount() - 1);
        list.deleteAllItems();
        QCOMPARE(list.findItemId(7), -1);
        QCOMPARE(list.rowCount(), 0);
    }

    void headerClickSortsNumbersByValueAndKeepsTheSelection()
    {
        TiledListCtrl list;
        QAbstractItemModelTester tester(
            list.listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.insertColumn(0, QStringLiteral("Port"), 50);
        for (const int port : {2121, 21, 990})
            list.setRecord(list.appendItem({QString::number(port)}), RowRecord{0, 0, port, {}});
        list.selectRow(list.findItemId(990));
        list.header()->setSortIndicator(-1, Qt::AscendingOrder);
        list.setSortingEnabled(true);
        QCOMPARE(list.itemText(0, 0), QStringLiteral("2121")); // no order until a header is clicked
        list.sortByColumn(0, Qt::AscendingOrder);
        QCOMPARE(
            list.itemText(0, 0) + list.itemText(1, 0) + list.itemText(2, 0), QStringLiteral("219902121"));
        QCOMPARE(list.findItemId(2121), 2);
        QCOMPARE(list.selectedRows(), QList<int>{1});
    }

    void writesTextsOnlyWhenTheyChange()
    {
        TiledListCtrl list;
        QAbstractItemModelTester tester(
            list.listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.insertColumn(0, QStringLiteral("Action"), 150);
        list.insertColumn(1, QStringLiteral("Bytes"), 110, Qt::AlignRight);
        const int row = list.appendItem({QStringLiteral("Idle")}, 21);
        QSignalSpy changed(list.listModel(), &QAbstractItemModel::dataChanged);
        QVERIFY(list.setItemText(row, 1, QStringLiteral("100")));
        QVERIFY(!list.setItemText(row, 1, QStringLiteral("100")));
        QVERIFY(!list.setItemText(row, 5, QStringLiteral("no such column")));
        QVERIFY(list.setItemImage(row, 23));
        QVERIFY(!list.setItemImage(row, 23));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(list.itemText(row, 1), QStringLiteral("100"));
        const QModelIndex bytes = list.listModel()->index(row, 1);
        QCOMPARE(Qt::Alignment(bytes.data(Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask,
            Qt::AlignRight);
        QVERIFY(!list.listModel()->index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        // Percent changes repaint; an unchanged percent does not.
        list.setRecord(row, RowRecord{0, 0, 5, {}});
        QVERIFY(list.setProgress(row, 40));
        QVERIFY(!list.setProgress(row, 40));
        QCOMPARE(list.record(row).percent, 40);
    }

    void statusTooltipsPerRow()
    {
        TiledListCtrl list;
        list.insertColumn(0, QStringLiteral("Action"), 150);
        list.insertColumn(1, QStringLiteral("Host"), 90);
        list.setRecord(list.appendItem({QStringLiteral("Idle - Ratio")}), RowRecord{0, 0, 6, {}});
        list.setRecord(list.appendItem({QStringLiteral("Idle")}), RowRecord{0, 0, 40, {}});
        list.appendItem({QStringLiteral("a log line without a record")});
        list.setStatusTipProvider([](std::int64_t id) {
            return id == 6 ? QStringLiteral("Probable ratio site.  May need to upload.")
                           : QString(120, QLatin1Char('x'));
        });
        const auto tip = [&](int row, int column) {
            return list.listModel()->index(row, column).data(Qt::ToolTipRole).toString();
        };
        QCOMPARE(tip(0, 1), QString()); // off until the owner turns status tips on
        list.setStatusTips(true);
        QCOMPARE(tip(0, 0), QStringLiteral("Probable ratio site.  May need to upload."));
        QCOMPARE(tip(0, 1), QStringLiteral("Probable ratio site.  May need to upload."));
        QCOMPARE(tip(1, 0).size(), 79);
        QCOMPARE(tip(2, 0), QString());
    }

    void dragsCarryTheOwnersText()
    {
        TiledListCtrl list;
        list.insertColumn(0, QStringLiteral("Filename"), 150);
        list.appendItem({QStringLiteral("a")});
        list.appendItem({QStringLiteral("b")});
        TiledListModel *model = list.listModel();
        QVERIFY(!(model->flags(model->index(0, 0)) & Qt::ItemIsDragEnabled));
        list.setDragTextProvider([&](const QList<int> &rows) {
            QStringList names;
            for (int row : rows)
                names << list.itemText(row, 0);
            return names.join(QChar(8));
        });
        QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemIsDragEnabled);
        std::unique_ptr<QMimeData> mime(model->mimeData({model->index(1, 0), model->index(0, 0)}));
        QVERIFY(mime);
        QCOMPARE(mime->text(), QStringLiteral("a") + QChar(8) + QStringLiteral("b"));
    }

    void listStripHasTheRowImages()
    {
        const ImageList &strip = listStripImages();
        QCOMPARE(strip.count(), kListImageCount);
        for (int index : {1, kImageLogLine, 21, 22, 23, 24, 25, 26})
            QVERIFY2(!strip.icon(index).isNull(), qPrintable(QString::number(index)));
        QVERIFY(strip.icon(kListImageCount).isNull());
        QVERIFY(strip.icon(-1).isNull());
    }

    void fileIconsFallBackAndAreShared()
    {
        FileIconList icons;
        icons.preloadPaneImages();
        QCOMPARE(icons.count(), 2);
        QCOMPARE(icons.iconForRemoteName(QStringLiteral("pub"), true), FileIconList::kFolderImage);
        QCOMPARE(
            iconImage(icons.icon(FileIconList::kFolderImage)), iconImage(FileIconList::genericFolderIcon()));

        // A type nothing knows gets the generic document icon.
        const int unknown = icons.iconForRemoteName(QStringLiteral(" *archive.zzqqxx* "), false);
        QVERIFY(unknown >= 2);
        QCOMPARE(iconImage(icons.icon(unknown)), iconImage(FileIconList::genericFileIcon()));

        // The same type twice gives the same image; listing a folder again does not grow the list.
        const int text = icons.iconForRemoteName(QStringLiteral("readme.txt"), false);
        const int countAfterFirst = icons.count();
        for (int i = 0; i < 50; ++i)
            QCOMPARE(icons.iconForRemoteName(QStringLiteral("other%1.txt").arg(i), false), text);
        QCOMPARE(icons.count(), countAfterFirst);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const char *name : {"a.log", "b.log"}) {
            QFile file(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const int local = icons.iconForPath(dir.filePath(QStringLiteral("a.log")), false);
        QVERIFY(local >= 0);
        QVERIFY(!icons.icon(local).isNull());
        QCOMPARE(icons.iconForPath(dir.filePath(QStringLiteral("b.log")), false), local);
        QCOMPARE(icons.iconForPath(dir.path(), true), FileIconList::kFolderImage);
    }
};

QTEST_MAIN(TiledListTest)
#include "tiled_list_test.moc"
