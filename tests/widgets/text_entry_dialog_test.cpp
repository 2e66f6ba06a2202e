// SPDX-License-Identifier: MIT
// The Add URL box: empty, with the example greyed in it, and the typed text comes back.
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "widgets/text_entry_dialog.h"

using bw::widgets::TextEntryDialog;

class TextEntryDialogTest : public QObject
{
    Q_OBJECT

private slots:

    void addUrlShowsTheExampleAsAPlaceholder()
    {
        QString shownText = QStringLiteral("unset");
        QString placeholder;
        QString caption;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(
                qobject_cast<TextEntryDialog *>(QApplication::activeModalWidget()), 5000);
            auto *dialog = qobject_cast<TextEntryDialog *>(QApplication::activeModalWidget());
            caption = dialog->windowTitle();
            shownText = dialog->edit()->text();
            placeholder = dialog->edit()->placeholderText();
            QTest::keyClicks(dialog->edit(), QStringLiteral("ftp://h/f"));
            dialog->accept();
        });
        const std::optional<QString> typed =
            bw::widgets::UserPrompts::modalDialogs().askUrl(nullptr, QStringLiteral("ftp://example/x.zip"));
        QCOMPARE(caption, QStringLiteral("Add/Edit URL"));
        QCOMPARE(shownText, QString());
        QCOMPARE(placeholder, QStringLiteral("ftp://example/x.zip"));
        QCOMPARE(typed, std::optional<QString>(QStringLiteral("ftp://h/f")));
    }
};

QTEST_MAIN(TextEntryDialogTest)
#include "text_entry_dialog_test.moc"
