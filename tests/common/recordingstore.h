// A real settings store in a temporary folder that also records every write in order,
// and can be made to refuse writes.
#pragma once

#include "base/failure.h"
#include "base/settingsstore.h"

#include <QList>
#include <QPair>

namespace parvello::testing {

class RecordingStore : public SettingsStore {
public:
    explicit RecordingStore(const QString& folder) : real_(UserSettingsStore::iniFolder(folder)) {}

    QList<QPair<QString, QString>> writes; // key, value
    bool refuseWrites = false;

    QString GetSetting(const QString& appName, const QString& section, const QString& key,
                       const SettingDefault& defaultValue) const override {
        return real_.GetSetting(appName, section, key, defaultValue);
    }
    void SaveSetting(const QString& appName, const QString& section, const QString& key,
                     const QString& value) override {
        if (refuseWrites)
            throw Failure(QStringLiteral("Cannot write the settings"),
                          failure_numbers::PermissionDenied);
        real_.SaveSetting(appName, section, key, value);
        writes.append({key, value});
    }
    UserSettingsStore& real() { return real_; }
    QString file() const { return real_.location(StoreApp); }

private:
    UserSettingsStore real_;
};

} // namespace parvello::testing
