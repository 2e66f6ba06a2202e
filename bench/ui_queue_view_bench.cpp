// SPDX-License-Identifier: MIT
// The queue pane with large queues: the once-a-second full refresh (25 rows per tab plus the
// transferring ones, and a walk of the whole queue) and the single-row refresh a progress notice costs.
#include <string>

#include <benchmark/benchmark.h>

#include <QApplication>

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

BENCHMARK(BM_FullRefresh)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

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
