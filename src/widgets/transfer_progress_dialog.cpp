// SPDX-License-Identifier: MIT
#include "widgets/transfer_progress_dialog.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/format_grouped_number.h"

namespace bw::widgets {

TransferProgressDialog::TransferProgressDialog(QWidget *parent)
    : QDialog(parent)
    , m_status(new QLineEdit(this))
    , m_bar(new QProgressBar(this))
    , m_abort(new QPushButton(tr("Abort"), this))
{
    setWindowTitle(tr("File Transfer"));
    setModal(false);
    m_status->setReadOnly(true);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_abort->setAutoDefault(false);
    connect(m_abort, &QPushButton::clicked, this, &TransferProgressDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_bar);
    layout->addWidget(m_abort, 0, Qt::AlignHCenter);
}

void TransferProgressDialog::start(const QString &fileName, bool *abortFlag)
{
    m_abortFlag = abortFlag;
    m_atomicAbortFlag = nullptr;
    begin(fileName);
}

void TransferProgressDialog::start(const QString &fileName, std::atomic<bool> *abortFlag)
{
    m_abortFlag = nullptr;
    m_atomicAbortFlag = abortFlag;
    begin(fileName);
}

void TransferProgressDialog::begin(const QString &fileName)
{
    m_fileName = fileName;
    setWindowTitle(tr("Transferring %1").arg(fileName));
    m_bar->setValue(0);
    m_status->clear();
    adjustSize();
    show();
    // Centred over the main window's client area (by the window's outer frame, once it has one).
    if (const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr) {
        const QRect client = owner->geometry();
        const QSize outer = frameGeometry().size();
        move(client.left() + (client.width() - outer.width()) / 2,
            client.top() + (client.height() - outer.height()) / 2);
    }
    raise();
}

void TransferProgressDialog::setPosition(int percent)
{
    m_bar->setValue(std::clamp(percent, m_bar->minimum(), m_bar->maximum()));
}

int TransferProgressDialog::position() const
{
    return m_bar->value();
}

void TransferProgressDialog::setBytesDone(std::uint64_t bytes)
{
    const QString text = progressText(bytes, m_total);
    if (m_status->text() != text)
        m_status->setText(text);
}

QString TransferProgressDialog::statusText() const
{
    return m_status->text();
}

QString TransferProgressDialog::progressText(std::uint64_t doneBytes, std::uint64_t totalBytes)
{
    // The panes show sizes grouped the same way; their empty text for 0 would read oddly here.
    const auto grouped = [](std::uint64_t value) {
        return value == 0 ? QStringLiteral("0") : FormatGroupedNumber(value);
    };
    if (totalBytes == 0)
        return tr("%1 bytes").arg(grouped(doneBytes));
    return tr("%1 of %2 bytes").arg(grouped(doneBytes), grouped(totalBytes));
}

void TransferProgressDialog::reject()
{
    if (m_abortFlag)
        *m_abortFlag = true;
    if (m_atomicAbortFlag)
        m_atomicAbortFlag->store(true);
    emit aborted();
    QDialog::reject();
}

} // namespace bw::widgets
