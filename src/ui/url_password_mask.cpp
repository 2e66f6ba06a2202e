// SPDX-License-Identifier: MIT
#include "ui/url_password_mask.h"

#include "core/url_password_mask.h"

namespace bw::ui {

QString maskUrlPassword(const QString &url)
{
    return QString::fromStdString(core::maskUrlPassword(url.toStdString()));
}

QString unmaskUrlPassword(const QString &edited, const QString &original)
{
    return QString::fromStdString(core::unmaskUrlPassword(edited.toStdString(), original.toStdString()));
}

} // namespace bw::ui
