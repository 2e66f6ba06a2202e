// SPDX-License-Identifier: MIT
// What the queue view and main window tests build on: a queue, a scheduler with short passes, an
// in-memory settings store and a queue document, all in a temporary folder of the test's own.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include "app/glue/bellwick_doc.h"
#include "core/queue_list.h"
#include "engine/memory_settings_store.h"
#include "engine/scheduler.h"
#include "support/temp_dir.h"

namespace bw::test {

inline engine::SchedulerTiming fastSchedulerTiming()
{
    engine::SchedulerTiming timing;
    timing.passInterval = std::chrono::milliseconds(100);
    timing.stopCheck = std::chrono::milliseconds(20);
    return timing;
}

struct EngineBundle
{
    TempDir dir;
    core::QueueList queue;
    engine::Scheduler scheduler{fastSchedulerTiming()};
    engine::MemorySettingsStore store;
    app::CBellwickDoc document{queue};

    EngineBundle()
    {
        scheduler.setQueue(&queue);
        scheduler.setUseDownloadPath(true);
        scheduler.setDownloadPath(downloads().string());
        std::filesystem::create_directories(downloads());
        document.openDocument(queueFileName());
    }

    ~EngineBundle()
    {
        scheduler.stop();
        scheduler.waitUntilStopped();
    }

    std::filesystem::path queueFile() const { return dir / "queue.ftp"; }

    std::filesystem::path downloads() const { return dir / "downloads"; }

    QString queueFileName() const { return QString::fromStdString(queueFile().string()); }
};

// Answers the next modal message box: records its text and caption and closes it.
struct MessageBoxCatcher
{
    QString text;
    QString caption;
    bool seen = false;

    void arm()
    {
        auto *timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            text = box->text();
            caption = box->windowTitle();
            seen = true;
            box->accept();
            timer->stop();
            timer->deleteLater();
        });
        timer->start();
    }
};

} // namespace bw::test
