// SPDX-License-Identifier: MIT
#include "widgets/integer_edit.h"

#include <QCoreApplication>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>

namespace bw::widgets {

namespace {

constexpr const char *kFieldName = "bwFieldName";

} // namespace

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

void setIntegerBounds(QLineEdit *box, const QString &fieldName, int minimum, int maximum)
{
    box->setValidator(new QIntValidator(minimum, maximum, box));
    box->setProperty(kFieldName, fieldName);
}

std::optional<int> readBoundedInteger(const QLineEdit *box)
{
    const std::optional<int> value = parseInteger(box->text());
    const auto *bounds = qobject_cast<const QIntValidator *>(box->validator());
    if (value && bounds && (*value < bounds->bottom() || *value > bounds->top()))
        return std::nullopt;
    return value;
}

QString notIntegerText(const QLineEdit *box)
{
    const auto *bounds = box ? qobject_cast<const QIntValidator *>(box->validator()) : nullptr;
    if (!bounds)
        return QCoreApplication::translate("bw::widgets::IntegerEdit", kNotIntegerMessage);
    // The field's label without its colon, as the form shows it.
    QString field = box->property(kFieldName).toString();
    if (field.endsWith(u':'))
        field.chop(1);
    return QCoreApplication::translate(
        "bw::widgets::IntegerEdit", "%1: please enter an integer from %2 to %3.")
        .arg(field)
        .arg(bounds->bottom())
        .arg(bounds->top());
}

void reportNotInteger(QWidget *parent, QLineEdit *box)
{
    QMessageBox::warning(
        parent, QCoreApplication::translate("bw::widgets::IntegerEdit", "Bellwick"), notIntegerText(box));
    if (box) {
        box->setFocus(Qt::OtherFocusReason);
        box->selectAll();
    }
}

} // namespace bw::widgets
