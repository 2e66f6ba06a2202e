// SPDX-License-Identifier: MIT
#include "widgets/transfer_progress_dialog.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

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
