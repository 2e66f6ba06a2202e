// SPDX-License-Identifier: MIT
// The queue pane with large queues: the once-a-second full refresh (25 rows per tab plus the
// transferring ones, and a walk of the whole queue) and the single-row refresh a progress notice costs.
#include <string>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>

#include "app/glue/bellwick_doc.h"
#include "core/queue_list.h"
#include "engine/scheduler.h"
#include "ui/queue_view.h"

namespace {

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "ui_queue_view_bench";
    static char *argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

void fill(bw::core::QueueList &queue, int count)
{
    for (int i = 0; i < count; ++i)
        queue.addItem(
            "ftp://host" + std::to_string(i % 100) + ".example/pub/file" + std::to_string(i) + ".bin",
            "/tmp/file" + std::to_string(i) + ".bin");
}

void BM_FullRefresh(benchmark::State &state)
{
    ensureApplication();
    bw::core::QueueList queue;
    bw::engine::Scheduler scheduler;
    bw::app::CBellwickDoc document(queue);
    bw::ui::CFtpTreeView view(queue, scheduler, document);
    const int count = static_cast<int>(state.range(0));
    fill(queue, count);
    for (auto _ : state)
        view.fullRefresh();
    state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(BM_FullRefresh)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A paste or drop of many URLs at once: parsed, queued, shown and saved to the queue file.
void BM_AddUrlsAtOnce(benchmark::State &state)
{
    ensureApplication();
    const int count = static_cast<int>(state.range(0));
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << QStringLiteral("ftp://host%1.example/pub/file%2.bin").arg(i % 100).arg(i);
    const QString queueFile =
        QDir::temp().filePath(QStringLiteral("bw-add-bench-%1.ftp").arg(QCoreApplication::applicationPid()));
    for (auto _ : state) {
        state.PauseTiming();
        {
            bw::core::QueueList queue;
            bw::engine::Scheduler scheduler;
            bw::app::CBellwickDoc document(queue);
            document.openDocument(queueFile);
            bw::ui::CFtpTreeView view(queue, scheduler, document);
            state.ResumeTiming();
            benchmark::DoNotOptimize(view.addUrls(lines, true).size());
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    QFile::remove(queueFile);
    state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(BM_AddUrlsAtOnce)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ProgressRowRefresh(benchmark::State &state)
{
    ensureApplication();
    bw::core::QueueList queue;
    bw::engine::Scheduler scheduler;
    bw::app::CBellwickDoc document(queue);
    bw::ui::CFtpTreeView view(queue, scheduler, document);
    const int count = static_cast<int>(state.range(0));
    fill(queue, count);
    const std::int32_t id = queue.ids().back();
    queue.setStatus(id, bw::core::ItemStatus::StatusTransferring);
    std::int64_t done = 0;
    for (auto _ : state) {
        done += 16384;
        queue.setProgress(id, done, 1'000'000'000);
        view.refreshItem(id);
    }
}

BENCHMARK(BM_ProgressRowRefresh)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

} // namespace
