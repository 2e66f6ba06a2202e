// SPDX-License-Identifier: MIT
#include "app/glue/qt_settings_store.h"

namespace bw::app {

namespace {

QString path(const std::string &group, const std::string &key)
{
    return QString::fromStdString(group) + QLatin1Char('/') + QString::fromStdString(key);
}

} // namespace

QtSettingsStore::QtSettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
        QStringLiteral("Tolvenby"), QStringLiteral("Bellwick")))
{}

QtSettingsStore::QtSettingsStore(const QString &iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{}

int QtSettingsStore::readInt(const std::string &group, const std::string &key, int defaultValue) const
{
    const QVariant value = m_settings->value(path(group, key));
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : defaultValue;
}

std::string QtSettingsStore::readString(
    const std::string &group, const std::string &key, const std::string &defaultValue) const
{
    const QVariant value = m_settings->value(path(group, key));
    if (!value.isValid())
        return defaultValue;
    return value.toString().toStdString();
}

void QtSettingsStore::writeInt(const std::string &group, const std::string &key, int value)
{
    m_settings->setValue(path(group, key), value);
}

void QtSettingsStore::writeString(const std::string &group, const std::string &key, const std::string &value)
{
    m_settings->setValue(path(group, key), QString::fromStdString(value));
}

bool QtSettingsStore::sync()
{
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

} // namespace bw::app
