// SPDX-License-Identifier: MIT
#include "browse/drag_text.h"

#include <cctype>

#include "core/url.h"

namespace bw::browse {

QString joinDragEntries(const QStringList &entries)
{
    return entries.join(kDragSeparator);
}

QStringList splitDragText(const QString &text)
{
    if (text.isEmpty())
        return {};
    return text.split(kDragSeparator);
}

QString remoteDragEntry(std::int32_t itemId, const std::string &user, const std::string &password,
    const std::string &host, std::int32_t port, const std::string &directory, const std::string &name,
    core::UrlScheme scheme)
{
    const core::UrlScheme download =
        core::isRemoteSessionScheme(scheme) ? core::downloadScheme(scheme) : core::SchemeFtp;
    const std::string text = "{" + std::to_string(itemId) + "}" + std::string(core::schemePrefix(download))
        + user + ":" + password + "@" + core::hostForUrl(host) + ":" + std::to_string(port)
        + core::escapeAt(directory + name);
    return QString::fromStdString(text);
}

QString publicRemoteUrl(const std::string &user, const std::string &host, std::int32_t port,
    const std::string &directory, const std::string &name, core::UrlScheme scheme)
{
    std::string lowered = user;
    for (char &c : lowered)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string text(core::schemePrefix(
        core::isRemoteSessionScheme(scheme) ? core::downloadScheme(scheme) : core::SchemeFtp));
    if (!user.empty() && lowered != core::kAnonymousUser)
        text += core::escapeUserInfo(user) + "@";
    text += core::hostForUrl(host) + ":" + std::to_string(port) + core::escapeAt(directory + name);
    return QString::fromStdString(text);
}

QString joinPublicEntries(const QStringList &entries)
{
    return entries.join(QLatin1Char('\n'));
}

QString localDragEntry(const std::string &path)
{
    return QStringLiteral("file://") + QString::fromStdString(path);
}

std::string remoteEntryName(const QString &entry)
{
    const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || slash + 1 >= entry.size())
        return {};
    QString name = entry.mid(slash + 1);
    name.replace(QStringLiteral("%40"), QStringLiteral("@"));
    return name.toStdString();
}

std::string localEntryPath(const QString &entry)
{
    static const QString prefix = QStringLiteral("file://");
    if (!entry.startsWith(prefix))
        return {};
    return entry.mid(prefix.size()).toStdString();
}

} // namespace bw::browse
