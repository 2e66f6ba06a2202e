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

int leadingNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    int end = 0;
    if (end < trimmed.size() && (trimmed[end] == u'-' || trimmed[end] == u'+'))
        ++end;
    while (end < trimmed.size() && trimmed[end].isDigit())
        ++end;
    bool ok = false;
    const int value = trimmed.left(end).toInt(&ok);
    return ok ? value : 0;
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
