// SPDX-License-Identifier: MIT
#include <functional>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/glue/qt_settings_store.h"
#include "engine/memory_settings_store.h"
#include "engine/settings.h"
#include "widgets/general_page.h"
#include "widgets/integer_edit.h"
#include "widgets/options_sheet.h"
#include "widgets/passwords_page.h"
#include "widgets/proxy_page.h"
#include "widgets/toggles_page.h"
#include "widgets/transfer_page.h"

using namespace bw;
using namespace bw::widgets;

namespace {

// Records the integer complaints instead of showing a message box.
class RecordingSheet : public OptionsSheet
{
public:
    using OptionsSheet::OptionsSheet;

    void reportNotInteger(QLineEdit *box) override
    {
        complaints.append(box);
        box->setFocus();
    }

    QList<QLineEdit *> complaints;
};

// Runs `steps` once the sheet's modal loop is running.
void whenShown(QDialog &sheet, std::function<void()> steps)
{
    QTimer::singleShot(0, &sheet, [&sheet, steps = std::move(steps)] {
        QTRY_VERIFY_WITH_TIMEOUT(sheet.isVisible(), 5000);
        steps();
    });
}

QPushButton *button(QDialog &sheet, QDialogButtonBox::StandardButton which)
{
    return sheet.findChild<QDialogButtonBox *>()->button(which);
}

engine::Settings customSettings()
{
    engine::Settings settings;
    settings.timeout = 45;
    settings.retryTime = 12;
    settings.maxThreads = 4;
    settings.maxThreadsPerSite = 2;
    settings.retryCount = 7;
    settings.hidePassword = false;
    settings.minimizeTray = true;
    settings.passive = true;
    settings.showSiteStart = false;
    settings.timeStamp = true;
    settings.useDownloadPath = true;
    settings.longLocalPaths = false;
    settings.downloadPath = "/home/u/dl";
    return settings;
}

} // namespace

class OptionsSheetTest : public QObject
{
    Q_OBJECT

private slots:

    void okAppliesAndSavesEveryPageValue()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        app::QtSettingsStore store(dir.filePath(QStringLiteral("Bellwick.conf")));
        engine::Settings settings = customSettings();
        RecordingSheet sheet;
        whenShown(sheet, [&] {
            QCOMPARE(sheet.generalPage()->timeoutEdit()->text(), QStringLiteral("45"));
            QCOMPARE(sheet.generalPage()->maxRetriesEdit()->text(), QStringLiteral("7"));
            QVERIFY(sheet.togglesPage()->box(CTogglesPage::Passive)->isChecked());
            QVERIFY(!sheet.togglesPage()->box(CTogglesPage::HidePassword)->isChecked());
            sheet.generalPage()->maxThreadsEdit()->setText(QStringLiteral("1"));
            sheet.generalPage()->retryTimeEdit()->setText(QStringLiteral(" -1 ")); // no rest
            sheet.generalPage()->maxRetriesEdit()->setText(QStringLiteral("99"));
            sheet.tabs()->setCurrentIndex(1);
            sheet.togglesPage()->box(CTogglesPage::HidePassword)->setChecked(true);
            sheet.togglesPage()->box(CTogglesPage::TimeStamp)->setChecked(false);
            sheet.togglesPage()->box(CTogglesPage::MonitorClipboard)->setChecked(true);
            sheet.tabs()->setCurrentIndex(3);
            QVERIFY(!sheet.proxyPage()->hostBox()->isEnabled()); // the environment's by default
            sheet.proxyPage()->modeButton(engine::ProxyMode::Manual)->setChecked(true);
            sheet.proxyPage()->kindBox()->setCurrentIndex(1);
            sheet.proxyPage()->hostBox()->setText(QStringLiteral(" proxy.example "));
            sheet.proxyPage()->portBox()->setValue(1081);
            sheet.proxyPage()->userBox()->setText(QStringLiteral("u"));
            sheet.proxyPage()->passwordBox()->setText(QStringLiteral("p"));
            button(sheet, QDialogButtonBox::Ok)->click();
        });
        QVERIFY(editOptions(sheet, settings, store));
        QVERIFY(sheet.complaints.isEmpty());

        engine::Settings expected = customSettings();
        expected.maxThreads = 1;
        expected.retryTime = -1;
        expected.retryCount = 99;
        expected.hidePassword = true;
        expected.timeStamp = false;
        expected.monitorClipboard = true;
        expected.proxy = {
            engine::ProxyMode::Manual, {net::ProxyKind::Socks5, "proxy.example", 1081, "u", "p"}};
        QCOMPARE(settings == expected, true);
        QVERIFY(store.sync());
        QCOMPARE(store.readInt("Options", "MaxThreads", 10), 1);
        QCOMPARE(store.readInt("Options", "RetryTime", 30), -1);
        QCOMPARE(store.readInt("Options", "RetryCount", 10), 99);
        QCOMPARE(store.readInt("Options", "HidePassword", 0), 1);
        QCOMPARE(store.readInt("Options", "TimeStamp", 1), 0);
        QCOMPARE(store.readInt("Options", "MonitorClipboard", 0), 1);
        QCOMPARE(store.readInt("Options", "VerifyClipboard", 1), 0);
        QCOMPARE(store.readString("Paths", "DownloadPath", ""), std::string("/home/u/dl"));
        QCOMPARE(store.readInt("Options", "SystemTray", -1), -1); // never written

        // A fresh store on the same file reads what was saved.
        app::QtSettingsStore reread(dir.filePath(QStringLiteral("Bellwick.conf")));
        QCOMPARE(engine::loadSettings(reread) == expected, true);

        // The clipboard boxes are kept like the others and shown checked the next time.
        whenShown(sheet, [&] {
            QVERIFY(sheet.togglesPage()->box(CTogglesPage::MonitorClipboard)->isChecked());
            QVERIFY(!sheet.togglesPage()->box(CTogglesPage::ExtractClipboard)->isChecked());
            QCOMPARE(sheet.windowTitle(), QStringLiteral("Options"));
            button(sheet, QDialogButtonBox::Cancel)->click();
        });
        QVERIFY(!editOptions(sheet, settings, store));
    }

    void transferPageShowsAndSavesTheSpeedLimitsAndConversion()
    {
        engine::MemorySettingsStore store;
        engine::Settings settings = customSettings();
        settings.maxSpeed = 300;
        settings.minSpeed = 5;
        settings.fileNameConversion = engine::FileNameConversion::Uppercase;
        RecordingSheet sheet;
        whenShown(sheet, [&] {
            sheet.tabs()->setCurrentIndex(2);
            QCOMPARE(sheet.transferPage()->maxSpeedEdit()->text(), QStringLiteral("300"));
            QCOMPARE(sheet.transferPage()->minSpeedEdit()->text(), QStringLiteral("5"));
            QCOMPARE(sheet.transferPage()->conversionGroup()->checkedId(), 1);
            sheet.transferPage()->maxSpeedEdit()->setText(QStringLiteral("5000"));
            sheet.transferPage()->minSpeedEdit()->setText(QStringLiteral("0"));
            sheet.transferPage()->conversionGroup()->button(2)->setChecked(true);
            button(sheet, QDialogButtonBox::Ok)->click();
        });
        QVERIFY(editOptions(sheet, settings, store));
        QCOMPARE(settings.maxSpeed, 5000);
        QCOMPARE(settings.minSpeed, 0);
        QCOMPARE(settings.fileNameConversion, engine::FileNameConversion::Lowercase);
        QCOMPARE(store.readInt("Options", "MaxSpeed", -1), 5000);
        QCOMPARE(store.readInt("Options", "MinSpeed", -1), 0);
        QCOMPARE(store.readInt("Options", "FilenameConversion", -1), 2);
        // Settings without a conversion show "None" selected.
        settings.fileNameConversion = engine::FileNameConversion::None;
        whenShown(sheet, [&] {
            QCOMPARE(sheet.transferPage()->conversionGroup()->checkedId(), 0);
            button(sheet, QDialogButtonBox::Cancel)->click();
        });
        QVERIFY(!editOptions(sheet, settings, store));
    }

    void ifTheFileExistsIsSavedAndShownAgain_data()
    {
        QTest::addColumn<QString>("storedLine"); // of the settings file before; empty: no such key
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("chosen");
        QTest::newRow("an older file renames") << QString() << QStringLiteral("Rename") << 1;
        QTest::newRow("overwrite to skip")
            << QStringLiteral("IfFileExists=1") << QStringLiteral("Overwrite") << 2;
        QTest::newRow("skip to rename") << QStringLiteral("IfFileExists=2") << QStringLiteral("Skip") << 0;
        QTest::newRow("unknown value renames")
            << QStringLiteral("IfFileExists=9") << QStringLiteral("Rename") << 1;
    }

    void ifTheFileExistsIsSavedAndShownAgain()
    {
        QFETCH(QString, storedLine);
        QFETCH(QString, shown);
        QFETCH(int, chosen);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("Bellwick.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("[Options]\nMaxThreads=3\n" + storedLine + "\n").toUtf8());
        file.close();
        app::QtSettingsStore store(path);
        engine::Settings settings = engine::loadSettings(store);
        RecordingSheet sheet;
        whenShown(sheet, [&] {
            sheet.tabs()->setCurrentIndex(2);
            QCOMPARE(sheet.transferPage()->ifExistsBox()->currentText(), shown);
            sheet.transferPage()->ifExistsBox()->setCurrentIndex(chosen);
            sheet.transferPage()->segmentsBox()->setValue(chosen + 1);
            button(sheet, QDialogButtonBox::Ok)->click();
        });
        QVERIFY(editOptions(sheet, settings, store));
        QCOMPARE(static_cast<int>(settings.ifFileExists), chosen);
        QVERIFY(store.sync());

        app::QtSettingsStore reread(path);
        const engine::Settings loaded = engine::loadSettings(reread);
        QCOMPARE(static_cast<int>(loaded.ifFileExists), chosen);
        QCOMPARE(loaded.maxSegments, chosen + 1);
        QCOMPARE(loaded.maxThreads, 3);
        RecordingSheet again;
        whenShown(again, [&] {
            QCOMPARE(again.transferPage()->ifExistsBox()->currentIndex(), chosen);
            button(again, QDialogButtonBox::Cancel)->click();
        });
        engine::Settings reloaded = loaded;
        QVERIFY(!editOptions(again, reloaded, reread));
    }

    void cancelKeepsEveryValueEvenOfPagesLeft()
    {
        engine::MemorySettingsStore store;
        engine::Settings settings = customSettings();
        RecordingSheet sheet;
        whenShown(sheet, [&] {
            sheet.generalPage()->timeoutEdit()->setText(QStringLiteral("1"));
            sheet.tabs()->setCurrentIndex(1); // leaving General reads it back
            QCOMPARE(sheet.tabs()->currentIndex(), 1);
            sheet.togglesPage()->box(CTogglesPage::Passive)->setChecked(false);
            sheet.tabs()->setCurrentIndex(2);
            sheet.transferPage()->maxSpeedEdit()->setText(QStringLiteral("300"));
            sheet.tabs()->setCurrentIndex(0);
            button(sheet, QDialogButtonBox::Cancel)->click();
        });
        QVERIFY(!editOptions(sheet, settings, store));
        QCOMPARE(settings == customSettings(), true);
        QCOMPARE(store.size(), std::size_t(0));
        QCOMPARE(sheet.generalPage()->values().timeout, 45);
        QVERIFY(sheet.togglesPage()->values().passive);
        QCOMPARE(sheet.transferPage()->values().maxSpeed, 0);
    }

    void notAnIntegerKeepsThePageOpen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("word") << QStringLiteral("ten");
        QTest::newRow("empty") << QString();
        QTest::newRow("trailing letters") << QStringLiteral("12s");
        QTest::newRow("fraction") << QStringLiteral("1.5");
        QTest::newRow("too large") << QStringLiteral("99999999999");
    }

    void notAnIntegerKeepsThePageOpen()
    {
        QFETCH(QString, text);
        engine::MemorySettingsStore store;
        engine::Settings settings = customSettings();
        RecordingSheet sheet;
        whenShown(sheet, [&] {
            QLineEdit *timeout = sheet.generalPage()->timeoutEdit();
            timeout->setText(text);
            sheet.tabs()->setCurrentIndex(1);
            QCOMPARE(sheet.tabs()->currentIndex(), 0); // leaving is refused
            QCOMPARE(sheet.complaints, QList<QLineEdit *>{timeout});
            button(sheet, QDialogButtonBox::Ok)->click();
            QVERIFY(sheet.isVisible()); // so is OK
            QCOMPARE(sheet.complaints.size(), 2);
            timeout->setText(QStringLiteral("60"));
            button(sheet, QDialogButtonBox::Ok)->click();
        });
        QVERIFY(editOptions(sheet, settings, store));
        QCOMPARE(settings.timeout, 60);
    }

    void okFindsABadBoxOnAnotherPage()
    {
        engine::MemorySettingsStore store;
        engine::Settings settings = customSettings();
        RecordingSheet sheet;
        whenShown(sheet, [&] {
            sheet.transferPage()->minSpeedEdit()->setText(QStringLiteral("fast"));
            button(sheet, QDialogButtonBox::Ok)->click();
            QCOMPARE(sheet.tabs()->currentWidget(), sheet.transferPage());
            QCOMPARE(sheet.complaints, QList<QLineEdit *>{sheet.transferPage()->minSpeedEdit()});
            button(sheet, QDialogButtonBox::Cancel)->click();
        });
        QVERIFY(!editOptions(sheet, settings, store));
        QCOMPARE(store.size(), std::size_t(0));
    }

    void messageNamesTheFieldAndItsBounds()
    {
        OptionsSheet sheet;
        QString shown;
        bool focusBack = false;
        whenShown(sheet, [&] {
            // No thread would ever run an item.
            QLineEdit *threads = sheet.generalPage()->maxThreadsEdit();
            threads->setText(QStringLiteral("0"));
            // The message box is modal: read and close it from the event loop it runs.
            QTimer::singleShot(0, &sheet, [&] {
                QTRY_VERIFY_WITH_TIMEOUT(
                    qobject_cast<QMessageBox *>(QApplication::activeModalWidget()), 5000);
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                shown = box->text();
                box->accept();
            });
            button(sheet, QDialogButtonBox::Ok)->click();
            focusBack = sheet.focusWidget() == threads;
            QVERIFY(sheet.isVisible());
            sheet.reject();
        });
        sheet.exec();
        QCOMPARE(shown, QStringLiteral("Max. Threads: please enter an integer from 1 to 100."));
        QVERIFY(focusBack);
    }

    void perSiteModeDisablesWhatSitesDoNotHave()
    {
        OptionsSheet site(OptionsSheet::Mode::PerSite);
        QCOMPARE(site.tabs()->count(), 2);
        QVERIFY(!site.transferPage());
        QVERIFY(!site.generalPage()->maxThreadsEdit()->isEnabled());
        QVERIFY(!site.generalPage()->maxThreadsPerSiteEdit()->isEnabled());
        QVERIFY(site.generalPage()->timeoutEdit()->isEnabled());
        QVERIFY(site.generalPage()->retryTimeEdit()->isEnabled());
        QVERIFY(site.generalPage()->maxRetriesEdit()->isEnabled());
        for (int box = 0; box < CTogglesPage::BoxCount; ++box)
            QCOMPARE(
                site.togglesPage()->box(CTogglesPage::Box(box))->isEnabled(), box == CTogglesPage::Passive);

        OptionsSheet program;
        QCOMPARE(program.tabs()->count(), 5);
        QCOMPARE(program.tabs()->tabText(4), QStringLiteral("Proxy"));
        QCOMPARE(program.tabs()->tabText(0), QStringLiteral("General"));
        QCOMPARE(program.tabs()->tabText(1), QStringLiteral("Toggles"));
        QCOMPARE(program.tabs()->tabText(2), QStringLiteral("Transfer"));
        QCOMPARE(program.tabs()->tabText(3), QStringLiteral("Passwords"));
        QCOMPARE(site.passwordsPage(), nullptr);
        // Where passwords are kept, and the choice to keep them in files, carried both ways.
        CPasswordsPage *passwords = program.passwordsPage();
        QCOMPARE(passwords->whereLabel()->text(), QStringLiteral("This computer's files (no keyring found)"));
        passwords->setKeyringFound(true);
        QCOMPARE(passwords->whereLabel()->text(), QStringLiteral("Desktop keyring"));
        engine::Settings keep;
        keep.passwordsInFiles = true;
        program.fill(keep);
        engine::Settings applied;
        program.applyTo(applied);
        QVERIFY(applied.passwordsInFiles);
        QVERIFY(program.generalPage()->maxThreadsEdit()->isEnabled());
        for (int box = 0; box < CTogglesPage::BoxCount; ++box)
            QVERIFY(program.togglesPage()->box(CTogglesPage::Box(box))->isEnabled());
    }

    void transferPageStartsWithNoConversion()
    {
        CTransferPage page;
        QCOMPARE(page.values() == TransferValues{}, true);
        QCOMPARE(page.conversionGroup()->checkedId(), -1);
        page.conversionGroup()->button(2)->setChecked(true);
        page.maxSpeedEdit()->setText(QStringLiteral("120"));
        QCOMPARE(page.readControls(), nullptr);
        QCOMPARE(page.values().conversion, 2);
        QCOMPARE(page.values().maxSpeed, 120);
        page.setValues(TransferValues{});
        page.fillControls();
        QCOMPARE(page.conversionGroup()->checkedId(), -1);
    }

    void integerRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << QStringLiteral("30") << true << 30;
        QTest::newRow("blanks") << QStringLiteral("  30 ") << true << 30;
        QTest::newRow("negative") << QStringLiteral("-1") << true << -1;
        QTest::newRow("plus") << QStringLiteral("+8") << true << 8;
        QTest::newRow("zero") << QStringLiteral("0") << true << 0;
        QTest::newRow("int max") << QStringLiteral("2147483647") << true << 2147483647;
        QTest::newRow("past int") << QStringLiteral("2147483648") << false << 0;
        QTest::newRow("hex") << QStringLiteral("0x10") << false << 0;
        QTest::newRow("inner blank") << QStringLiteral("1 0") << false << 0;
        QTest::newRow("empty") << QString() << false << 0;
    }

    void integerRule()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const std::optional<int> parsed = parseInteger(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
    }
};

QTEST_MAIN(OptionsSheetTest)
#include "options_sheet_test.moc"
