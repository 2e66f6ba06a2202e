// SPDX-License-Identifier: MIT
// What the queue view and main window tests build on: an engine with short passes, an
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
#include "engine/engine.h"
#include "engine/memory_settings_store.h"
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
    engine::Engine transferEngine{engineOptions(dir)};
    core::QueueList &queue = transferEngine.queue();
    engine::Scheduler &scheduler = transferEngine.scheduler();
    engine::MemorySettingsStore store;
    app::CBellwickDoc document{queue};

    // The diagnostic log and the local folder in the test's own folder.
    static engine::EngineOptions engineOptions(const TempDir &folder)
    {
        engine::EngineOptions options;
        options.schedulerTiming = fastSchedulerTiming();
        options.diagnosticLogPath = (folder / "Bellwick.log").string();
        options.localFolder = folder.path().string();
        return options;
    }

    EngineBundle()
    {
        scheduler.setUseDownloadPath(true);
        scheduler.setDownloadPath(downloads().string());
        std::filesystem::create_directories(downloads());
        document.openDocument(queueFileName());
    }

    ~EngineBundle() { transferEngine.stopAndWait(); }

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
