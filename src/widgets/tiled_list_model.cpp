// SPDX-License-Identifier: MIT
#include "widgets/tiled_list_model.h"

#include <algorithm>
#include <numeric>

#include <QApplication>
#include <QColor>
#include <QMimeData>
#include <QPalette>
#include <QStyle>

#include "widgets/image_list.h"

namespace bw::widgets {

namespace {

constexpr int kMaxTipLength = 79;

// The zeros before a number's first other digit (a lone "0" keeps its digit).
qsizetype leadingZeros(QStringView run)
{
    qsizetype zeros = 0;
    while (zeros + 1 < run.size() && run[zeros] == u'0')
        ++zeros;
    return zeros;
}

// Texts compared with their runs of digits as numbers ("9" before "10", "2 MiB" before "10 MiB") and
// the rest without regard to case.
int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype startA = i;
            const qsizetype startB = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            // Without leading zeros a longer run is the larger number; runs of one length compare as text.
            const QStringView runA = QStringView(a).mid(startA, i - startA);
            const QStringView runB = QStringView(b).mid(startB, j - startB);
            const qsizetype zerosA = leadingZeros(runA);
            const qsizetype zerosB = leadingZeros(runB);
            const qsizetype lengthA = runA.size() - zerosA;
            const qsizetype lengthB = runB.size() - zerosB;
            if (lengthA != lengthB)
                return lengthA < lengthB ? -1 : 1;
            if (const int compared = runA.mid(zerosA).compare(runB.mid(zerosB)); compared != 0)
                return compared;
            continue;
        }
        const QChar ca = a[i].toCaseFolded();
        const QChar cb = b[j].toCaseFolded();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    return (a.size() - i > 0) - (b.size() - j > 0);
}

// Red that keeps its contrast: dark on a light base, light on a dark one.
QColor emphasisColor()
{
    const bool darkBase = QApplication::palette().color(QPalette::Base).lightness() < 128;
    return darkBase ? QColor(255, 128, 128) : QColor(176, 0, 32);
}

} // namespace

TiledListModel::TiledListModel(QObject *parent)
    : QAbstractTableModel(parent)
{}

void TiledListModel::setEmphasized(int row, bool on)
{
    if (row < 0 || row >= rowCount() || m_rows[static_cast<std::size_t>(row)].emphasized == on)
        return;
    m_rows[static_cast<std::size_t>(row)].emphasized = on;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1), {Qt::ForegroundRole, Qt::DecorationRole});
}

bool TiledListModel::isEmphasized(int row) const
{
    return row >= 0 && row < rowCount() && m_rows[static_cast<std::size_t>(row)].emphasized;
}

void TiledListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= m_columns.size() || m_rows.size() < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> oldRows(m_rows.size());
    std::iota(oldRows.begin(), oldRows.end(), 0);
    std::stable_sort(oldRows.begin(), oldRows.end(), [&](int a, int b) {
        const int compared = naturalCompare(text(a, column), text(b, column));
        return order == Qt::AscendingOrder ? compared < 0 : compared > 0;
    });
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newRowOf(m_rows.size());
    for (std::size_t row = 0; row < oldRows.size(); ++row) {
        newRowOf[static_cast<std::size_t>(oldRows[row])] = static_cast<int>(row);
        sorted.push_back(std::move(m_rows[static_cast<std::size_t>(oldRows[row])]));
    }
    m_rows = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex &index : before)
        after << this->index(newRowOf[static_cast<std::size_t>(index.row())], index.column());
    changePersistentIndexList(before, after);
    invalidateIdIndex();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TiledListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TiledListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant TiledListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return column < row.texts.size() ? row.texts.at(column) : QString();
    case Qt::ForegroundRole:
        return row.emphasized ? QVariant(emphasisColor()) : QVariant();
    case Qt::DecorationRole:
        if (column == 0 && row.emphasized)
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        if (column == 0 && row.image >= 0)
            return imageList()->icon(row.image);
        return {};
    case Qt::ToolTipRole: {
        const QString tip = toolTip(index.row(), column);
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(m_columns.at(column).alignment | Qt::AlignVCenter);
    case PercentRole:
        return row.record ? row.record->percent : -1;
    case ProgressColumnRole:
        return row.record ? row.record->progressColumn : -1;
    case ItemIdRole:
        return QVariant::fromValue<qint64>(row.record ? row.record->itemId : 0);
    case ImageIndexRole:
        return row.image;
    case RecordDataRole:
        return row.record ? row.record->data : QVariant();
    default:
        return {};
    }
}

QVariant TiledListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_columns.at(section).title;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_columns.at(section).alignment | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TiledListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (m_dragTextProvider)
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

QStringList TiledListModel::mimeTypes() const
{
    return {QStringLiteral("text/plain")};
}

QMimeData *TiledListModel::mimeData(const QModelIndexList &indexes) const
{
    if (!m_dragTextProvider)
        return nullptr;
    QList<int> rows;
    for (const QModelIndex &index : indexes) {
        if (index.isValid() && !rows.contains(index.row()))
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    auto *mime = new QMimeData;
    mime->setText(m_dragTextProvider(rows));
    return mime;
}

int TiledListModel::insertColumn(int column, const ListColumn &definition)
{
    column = std::clamp(column, 0, static_cast<int>(m_columns.size()));
    beginInsertColumns({}, column, column);
    m_columns.insert(column, definition);
    for (Row &row : m_rows) {
        if (column <= row.texts.size())
            row.texts.insert(column, QString());
    }
    endInsertColumns();
    return column;
}

int TiledListModel::insertRow(int row, const QStringList &texts, int image)
{
    row = std::clamp(row, 0, rowCount());
    beginInsertRows({}, row, row);
    m_rows.insert(m_rows.begin() + row, Row{texts, image, std::nullopt});
    endInsertRows();
    // A row appended without a record leaves the id index as it is.
    if (row != rowCount() - 1)
        invalidateIdIndex();
    return row;
}

bool TiledListModel::removeRow(int row)
{
    if (row < 0 || row >= rowCount())
        return false;
    const auto &removed = m_rows[static_cast<std::size_t>(row)].record;
    const bool hadId = removed.has_value();
    const std::int64_t removedId = hadId ? removed->itemId : 0;
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
    if (m_idIndexValid) {
        // Keep the index: drop the removed row and move the rows below it up by one.
        for (auto it = m_idIndex.begin(); it != m_idIndex.end();) {
            if (it.value() == row)
                it = m_idIndex.erase(it);
            else {
                if (it.value() > row)
                    --it.value();
                ++it;
            }
        }
        // Another row may carry the same id as the removed one.
        if (hadId && !m_idIndex.contains(removedId)) {
            for (std::size_t i = 0; i < m_rows.size(); ++i) {
                if (m_rows[i].record && m_rows[i].record->itemId == removedId) {
                    m_idIndex.insert(removedId, static_cast<int>(i));
                    break;
                }
            }
        }
    }
    return true;
}

void TiledListModel::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
    invalidateIdIndex();
}

QString TiledListModel::text(int row, int column) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const QStringList &texts = m_rows[static_cast<std::size_t>(row)].texts;
    return column >= 0 && column < texts.size() ? texts.at(column) : QString();
}

bool TiledListModel::setText(int row, int column, const QString &text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return false;
    QStringList &texts = m_rows[static_cast<std::size_t>(row)].texts;
    if (column < texts.size() && texts.at(column) == text)
        return false;
    while (texts.size() <= column)
        texts.append(QString());
    texts[column] = text;
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    return true;
}

int TiledListModel::image(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    return m_rows[static_cast<std::size_t>(row)].image;
}

bool TiledListModel::setImage(int row, int image)
{
    if (row < 0 || row >= rowCount() || m_rows[static_cast<std::size_t>(row)].image == image)
        return false;
    m_rows[static_cast<std::size_t>(row)].image = image;
    const QModelIndex cell = index(row, 0);
    emit dataChanged(cell, cell, {Qt::DecorationRole, ImageIndexRole});
    return true;
}

bool TiledListModel::hasRecord(int row) const
{
    return row >= 0 && row < rowCount() && m_rows[static_cast<std::size_t>(row)].record.has_value();
}

RowRecord TiledListModel::record(int row) const
{
    if (!hasRecord(row))
        return {};
    return *m_rows[static_cast<std::size_t>(row)].record;
}

void TiledListModel::setRecord(int row, const RowRecord &record)
{
    if (row < 0 || row >= rowCount())
        return;
    auto &slot = m_rows[static_cast<std::size_t>(row)].record;
    const bool sameId = slot && slot->itemId == record.itemId;
    const bool hadId = slot.has_value();
    slot = record;
    if (m_idIndexValid && !sameId) {
        if (hadId)
            invalidateIdIndex();
        else {
            const int known = m_idIndex.value(record.itemId, -1);
            if (known < 0 || known > row)
                m_idIndex.insert(record.itemId, row);
        }
    }
    if (columnCount() > 0)
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

bool TiledListModel::setPercent(int row, int percent)
{
    if (!hasRecord(row))
        return false;
    RowRecord &record = *m_rows[static_cast<std::size_t>(row)].record;
    if (record.percent == percent)
        return false;
    record.percent = percent;
    if (columnCount() > 0)
        emit dataChanged(index(row, 0), index(row, columnCount() - 1), {PercentRole});
    return true;
}

int TiledListModel::findItemId(std::int64_t itemId) const
{
    if (!m_idIndexValid) {
        m_idIndex.clear();
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            const auto &record = m_rows[i].record;
            // The first row with an id wins, as a scan from the top would find it.
            if (record && !m_idIndex.contains(record->itemId))
                m_idIndex.insert(record->itemId, static_cast<int>(i));
        }
        m_idIndexValid = true;
    }
    return m_idIndex.value(itemId, -1);
}

void TiledListModel::setImageList(const ImageList *images)
{
    m_images = images;
    if (rowCount() > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
}

const ImageList *TiledListModel::imageList() const
{
    return m_images ? m_images : &listStripImages();
}

void TiledListModel::setStatusTipProvider(std::function<QString(std::int64_t)> provider)
{
    m_statusTipProvider = std::move(provider);
}

QString TiledListModel::toolTip(int row, int column) const
{
    Q_UNUSED(column);
    if (!m_statusTips || !m_statusTipProvider || !hasRecord(row))
        return {};
    return m_statusTipProvider(m_rows[static_cast<std::size_t>(row)].record->itemId).left(kMaxTipLength);
}

void TiledListModel::setDragTextProvider(std::function<QString(const QList<int> &)> provider)
{
    m_dragTextProvider = std::move(provider);
}

void TiledListModel::invalidateIdIndex() const
{
    m_idIndexValid = false;
}

} // namespace bw::widgets
