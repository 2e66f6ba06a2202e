// SPDX-License-Identifier: MIT
#include "widgets/integer_edit.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>

namespace bw::widgets {

std::optional<int> parseInteger(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

void reportNotInteger(QWidget *parent, QLineEdit *box)
{
    QMessageBox::warning(parent, QCoreApplication::translate("bw::widgets::IntegerEdit", "Bellwick"),
        QCoreApplication::translate("bw::widgets::IntegerEdit", kNotIntegerMessage));
    if (box) {
        box->setFocus(Qt::OtherFocusReason);
        box->selectAll();
    }
}

} // namespace bw::widgets
