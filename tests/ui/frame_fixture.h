// SPDX-License-Identifier: MIT
// A main window over its own engine bundle, with short timers, no log-on entry of the user's and the
// notification bridge wired as the program wires it.
#pragma once

#include <memory>

#include "app/glue/notification_bridge.h"
#include "core/queue_events.h"
#include "ui/main_frame.h"
#include "window_fixture.h"

namespace bw::test {

struct FrameBundle
{
    EngineBundle engine;
    core::QueueEvents events{engine.queue};
    app::NotificationBridge bridge{events};
    ui::MainFrameOptions options;
    std::unique_ptr<ui::CMainFrame> frame;

    FrameBundle()
    {
        options.refreshIntervalMs = 30;
        options.autosaveIntervalMs = 50;
        options.trayAvailable = false;
        options.autostartEntryPath = path("autostart/Bellwick.desktop");
        options.programPath = QStringLiteral("/usr/bin/bellwick");
        options.siteFilePath = path("database.usr");
        // Connect's site dialog (also run at the first paint) closes without connecting unless a
        // test answers it.
        options.runSiteDialog = [](browse::CSiteDialog &) {
            return 0;
        };
        // Downloads go to the test's folder: the frame loads its settings from the store.
        engine.store.writeInt("Options", "UseDownloadPath", 1);
        engine.store.writeString("Paths", "DownloadPath", engine.downloads().string());
    }

    ~FrameBundle()
    {
        if (frame && !frame->isClosed())
            frame->close();
        frame.reset();
        bridge.close();
    }

    QString path(const std::string &name) const
    {
        return QString::fromStdString((engine.dir / name).string());
    }

    ui::CMainFrame &create()
    {
        frame = std::make_unique<ui::CMainFrame>(
            ui::MainFrameContext{engine.transferEngine, engine.store, engine.document, &events}, options);
        app::connectBridge(bridge, *frame);
        return *frame;
    }
};

} // namespace bw::test
