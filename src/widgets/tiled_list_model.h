// SPDX-License-Identifier: MIT
// The rows of a TiledListCtrl: texts per column, one image, and an optional row record with the
// progress bar and the owner's id. Lookups by id use an index, so lists of thousands of rows stay
// fast. GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QVariant>

namespace bw::widgets {

class ImageList;

// What a row owns beside its texts. The queue view keeps the item id there (percent 0, column 0 at
// first); the file panes keep their entry in `data` (percent and column -1).
struct RowRecord
{
    int percent = -1; // the bar shows when this is above 0
    int progressColumn = -1; // the column that shows the bar; -1 for none
    std::int64_t itemId = 0;
    QVariant data;
};

struct ListColumn
{
    QString title;
    int width = 100;
    Qt::Alignment alignment = Qt::AlignLeft;
};

class TiledListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role
    {
        PercentRole = Qt::UserRole + 1, // int, -1 without a record
        ProgressColumnRole, // int, -1 without a record
        ItemIdRole, // qint64, 0 without a record
        ImageIndexRole, // int, -1 for none
        RecordDataRole, // the record's data
    };

    explicit TiledListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Orders the rows by a column's texts, numbers by their value ("9" before "10"); rows added later go
    // to the end. A column out of range leaves the order as it is. Selections follow their rows.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    // Columns. Returns the new column's index.
    int insertColumn(int column, const ListColumn &definition);

    const ListColumn &column(int column) const { return m_columns.at(column); }

    // Rows. `row` beyond the end appends. Returns the new row's index.
    int insertRow(int row, const QStringList &texts, int image = -1);
    bool removeRow(int row);
    void clear();

    QString text(int row, int column) const;
    // Writes only when the text differs; returns whether it changed.
    bool setText(int row, int column, const QString &text);
    int image(int row) const;
    bool setImage(int row, int image);
    // An emphasized row (an error in a log) shows a warning icon and a red that reads on light and dark
    // palettes alike.
    void setEmphasized(int row, bool on);
    bool isEmphasized(int row) const;

    bool hasRecord(int row) const;
    // A row without a record reads as the default record.
    RowRecord record(int row) const;
    void setRecord(int row, const RowRecord &record);
    // Only for rows with a record; repaints the row when the percent changed.
    bool setPercent(int row, int percent);
    // The row whose record carries this id, or -1.
    int findItemId(std::int64_t itemId) const;

    // Images shown in column 0; borrowed, must outlive the model. Null gives the shared strip.
    void setImageList(const ImageList *images);
    const ImageList *imageList() const;

    // Tooltip text for a row's item id (the queue view gives the status name). Cut to 79 characters.
    void setStatusTips(bool on) { m_statusTips = on; }

    bool statusTips() const { return m_statusTips; }

    void setStatusTipProvider(std::function<QString(std::int64_t itemId)> provider);
    // The text shown for a cell's tooltip: empty unless status tips are on.
    QString toolTip(int row, int column) const;

    // Drag source: when set, dragging rows asks this for the text to carry.
    void setDragTextProvider(std::function<QString(const QList<int> &rows)> provider);

private:
    struct Row
    {
        QStringList texts;
        int image = -1;
        std::optional<RowRecord> record;
        bool emphasized = false;
    };

    void invalidateIdIndex() const;

    QList<ListColumn> m_columns;
    std::vector<Row> m_rows;
    const ImageList *m_images = nullptr;
    bool m_statusTips = false;
    std::function<QString(std::int64_t)> m_statusTipProvider;
    std::function<QString(const QList<int> &)> m_dragTextProvider;
    mutable QHash<std::int64_t, int> m_idIndex;
    mutable bool m_idIndexValid = false;
};

} // namespace bw::widgets
