// The per-user store of the user's choices: text values addressed by application name,
// section and key, written the moment a control changes.
#pragma once

#include <QString>

namespace parvello {

// The one application name and section the program uses.
inline const QString StoreApp = QStringLiteral("Kestrilon");
inline const QString StoreSection = QStringLiteral("Parvello");

// The default of a read, turned into text the way the store hands it back when the key
// is missing: a number becomes its decimal digits, a Boolean "True" or "False".
class SettingDefault {
public:
    SettingDefault(const QString& text) : text_(text) {}
    SettingDefault(const char* text) : text_(QString::fromUtf8(text)) {}
    SettingDefault(int number) : text_(QString::number(number)) {}
    SettingDefault(bool value) : text_(value ? QStringLiteral("True") : QStringLiteral("False")) {}
    const QString& text() const { return text_; }

private:
    QString text_;
};

// The store's two operations. Values are addressed by application name, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text, or the default when the key (or its section) is missing. An empty
    // stored value is returned as empty. Never fails for a missing key and never writes.
    virtual QString GetSetting(const QString& appName, const QString& section, const QString& key,
                               const SettingDefault& defaultValue) const = 0;

    // Stores the text and flushes it at once; fails (Failure) when it cannot be written.
    virtual void SaveSetting(const QString& appName, const QString& section, const QString& key,
                             const QString& value) = 0;

    // Shorthands for the program's own application name and section.
    QString get(const QString& key, const SettingDefault& defaultValue) const {
        return GetSetting(StoreApp, StoreSection, key, defaultValue);
    }
    void save(const QString& key, const QString& value) {
        SaveSetting(StoreApp, StoreSection, key, value);
    }
};

// The user's own store, over QSettings. On Windows the registry key
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>, where earlier Windows
// builds kept their settings; elsewhere an INI file "<app>.ini" in the user's
// configuration folder, with the section as its group. Each call opens the store afresh,
// so two running copies see each other's last writes.
// The INI file is used only as a regular file: a pipe, socket, device or folder at its
// path is never opened (reads give the defaults); a symbolic link is followed to a regular
// file of the user running the program, and to another user's regular file only to read
// it; nothing opened there can wait. A save the file may not take fails as a refused
// write does.
class UserSettingsStore : public SettingsStore {
public:
    static UserSettingsStore userStore();

    // A store of INI files "<app>.ini" in the given folder.
    static UserSettingsStore iniFolder(const QString& folder);

    QString GetSetting(const QString& appName, const QString& section, const QString& key,
                       const SettingDefault& defaultValue) const override;
    void SaveSetting(const QString& appName, const QString& section, const QString& key,
                     const QString& value) override;

    // Where the values of an application name live (a file path or a registry path).
    QString location(const QString& appName) const;

private:
    enum class Kind { Registry, IniFolder };
    UserSettingsStore(Kind kind, QString root) : kind_(kind), root_(std::move(root)) {}
    Kind kind_;
    QString root_;
};

// Reads a stored option value as a Boolean: "True" or "False" (any letter case), or a
// number, zero being false. Anything else fails with a type mismatch.
bool OptionValueFromText(const QString& text);

// The standard text form of a Boolean: "True" or "False".
inline QString BoolText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace parvello
