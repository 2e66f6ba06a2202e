// SPDX-License-Identifier: MIT
// The small modeless "File Transfer" window the remote browser shows while it moves a file directly:
// the file name in the title, how many bytes have moved, a progress bar and "Abort". GUI thread only.
#pragma once

#include <atomic>
#include <cstdint>

#include <QDialog>

class QLineEdit;
class QProgressBar;
class QPushButton;

namespace bw::widgets {

class TransferProgressDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TransferProgressDialog(QWidget *parent = nullptr);

    // Remembers the name and the owner's abort flag, centres the window over the main window and
    // shows it with the title "Transferring <name>". Abort sets the flag to true.
    void start(const QString &fileName, bool *abortFlag);
    void start(const QString &fileName, std::atomic<bool> *abortFlag);

    // Position of the bar, 0 to 100.
    void setPosition(int percent);
    int position() const;
    // The line above the bar: "x of y bytes" with the total set by setTotal.
    void setBytesDone(std::uint64_t bytes);
    QString statusText() const;

    // "1,234 of 5,678 bytes"; without a known total (0) "1,234 bytes".
    static QString progressText(std::uint64_t doneBytes, std::uint64_t totalBytes);

    void setTotal(std::uint64_t bytes) { m_total = bytes; }

    std::uint64_t total() const { return m_total; }

    QString fileName() const { return m_fileName; }

    QPushButton *abortButton() const { return m_abort; }

    QProgressBar *progressBar() const { return m_bar; }

    void reject() override; // Abort and the cancel key

signals:
    void aborted();

private:
    void begin(const QString &fileName);

    QString m_fileName;
    std::uint64_t m_total = 0;
    bool *m_abortFlag = nullptr;
    std::atomic<bool> *m_atomicAbortFlag = nullptr;
    QLineEdit *m_status;
    QProgressBar *m_bar;
    QPushButton *m_abort;
};

} // namespace bw::widgets
