// SPDX-License-Identifier: MIT
// The engine's settings store on QSettings: the user's native settings of Tolvenby/Bellwick
// (~/.config/Tolvenby/Bellwick.conf), or a given file for tests. GUI thread only.
#pragma once

#include <memory>

#include <QSettings>

#include "engine/settings_store.h"

namespace bw::app {

class QtSettingsStore : public engine::SettingsStore
{
public:
    // The user's store: organisation "Tolvenby", application "Bellwick".
    QtSettingsStore();
    // A store in an INI file of its own.
    explicit QtSettingsStore(const QString &iniFile);

    int readInt(const std::string &group, const std::string &key, int defaultValue) const override;
    std::string readString(
        const std::string &group, const std::string &key, const std::string &defaultValue) const override;
    void writeInt(const std::string &group, const std::string &key, int value) override;
    void writeString(const std::string &group, const std::string &key, const std::string &value) override;

    // Writes pending changes to disk; false when that failed.
    bool sync();

    QString fileName() const { return m_settings->fileName(); }

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace bw::app
