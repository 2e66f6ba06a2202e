// SPDX-License-Identifier: MIT
#include "ui/trust_dialog_parts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

namespace bw::ui {

QLabel *trustValueLabel(const QString &text, const QString &objectName)
{
    auto *label = new QLabel(text);
    label->setObjectName(objectName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

QDialogButtonBox *trustButtonBox(
    QDialog &dialog, const QString &trustText, QPushButton *&trust, QPushButton *&cancel)
{
    auto *buttons = new QDialogButtonBox;
    trust = buttons->addButton(trustText, QDialogButtonBox::AcceptRole);
    trust->setObjectName(QStringLiteral("trustButton"));
    trust->setAutoDefault(false);
    cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setDefault(true); // trusting needs a deliberate choice
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}

} // namespace bw::ui
