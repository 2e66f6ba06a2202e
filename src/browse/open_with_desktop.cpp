// SPDX-License-Identifier: MIT
#include "browse/open_with_desktop.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace bw::browse {

void openWithDesktop(const QUrl &file, const std::function<bool(const QUrl &)> &open, QWidget *parent)
{
    if (open(file))
        return;
    const QFileInfo info(file.toLocalFile());
    const auto text = [](const char *source) {
        return QCoreApplication::translate("bw::browse::OpenWithDesktop", source);
    };
    QMessageBox box(QMessageBox::Warning, text("View File"),
        text("The desktop could not open \"%1\": no program is set for this kind of file.")
            .arg(info.fileName()),
        QMessageBox::Close, parent);
    box.setObjectName(QStringLiteral("openFailedBox"));
    box.setInformativeText(text("The file is in %1.").arg(info.absolutePath()));
    QPushButton *folder = box.addButton(text("Open Folder"), QMessageBox::AcceptRole);
    box.setDefaultButton(folder);
    box.exec();
    if (box.clickedButton() == folder)
        open(QUrl::fromLocalFile(info.absolutePath()));
}

} // namespace bw::browse
