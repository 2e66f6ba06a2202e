// SPDX-License-Identifier: MIT
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "app/glue/qt_settings_store.h"
#include "engine/settings.h"

using bw::app::QtSettingsStore;
namespace engine = bw::engine;

class QtSettingsStoreTest : public QObject
{
    Q_OBJECT

private slots:

    void initTestCase()
    {
        // The user's store goes to a folder of the test's own, never to the real user's settings.
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
    }

    void readsDefaultsForMissingOrBadValues()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Bellwick.conf"));
        {
            QSettings raw(file, QSettings::IniFormat);
            raw.setValue(QStringLiteral("Options/MaxThreads"), QStringLiteral("lots"));
            raw.setValue(QStringLiteral("Options/Timeout"), QStringLiteral(" 45 "));
        }
        const QtSettingsStore store(file);
        QCOMPARE(store.readInt("Options", "MaxThreads", 10), 10);
        QCOMPARE(store.readInt("Options", "Timeout", 30), 45);
        QCOMPARE(store.readInt("Options", "RetryTime", 30), 30);
        QCOMPARE(store.readString("Paths", "DownloadPath", "none"), std::string("none"));
    }

    void settingsRoundTripInTheirGroups()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Bellwick.conf"));
        engine::Settings settings;
        settings.downloadPath = "/home/u/D\xc3\xa9p\xc3\xb4ts";
        settings.maxThreads = 0;
        settings.retryTime = -3;
        settings.passive = true;
        settings.showSiteStart = false;
        {
            QtSettingsStore store(file);
            engine::saveSettings(store, settings);
            QVERIFY(store.sync());
        }
        QSettings raw(file, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("Paths/DownloadPath")).toString(),
            QStringLiteral("/home/u/D\u00e9p\u00f4ts"));
        QCOMPARE(raw.value(QStringLiteral("Options/MaxThreads")).toInt(), 0);
        QCOMPARE(raw.value(QStringLiteral("Options/Passive")).toInt(), 1);
        QCOMPARE(raw.value(QStringLiteral("Options/ShowSiteStart")).toInt(), 0);
        QVERIFY(!raw.contains(QStringLiteral("Options/SystemTray")));
        const QtSettingsStore reread(file);
        QCOMPARE(engine::loadSettings(reread) == settings, true);
    }

    void userStoreLivesUnderTolvenbyBellwick()
    {
        QtSettingsStore store;
        QCOMPARE(store.fileName(), m_home.filePath(QStringLiteral("Tolvenby/Bellwick.conf")));
        store.writeInt("Options", "RetryCount", 12);
        QVERIFY(store.sync());
        QVERIFY(QFile::exists(store.fileName()));
        QCOMPARE(QtSettingsStore().readInt("Options", "RetryCount", 10), 12);
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(QtSettingsStoreTest)
#include "qt_settings_store_test.moc"
