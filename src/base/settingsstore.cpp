#include "base/settingsstore.h"

#include "base/failure.h"
#include "base/filestatus.h"
#include "base/qtpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace parvello {

namespace {

std::unique_ptr<QSettings> openStore(const QString& path, bool registry) {
    if (registry)
        return std::make_unique<QSettings>(path, QSettings::NativeFormat);
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

// What the INI file's path leads to decides how the store may use it; asked afresh before
// every read and write, without opening anything.
enum class FileUse {
    ReadWrite, // a regular file, one reached through a link to the user's own regular file,
               // or nothing yet (a write makes the file)
    ReadOnly,  // a link to another user's regular file: read, never written through
    None,      // a pipe, socket, device or folder, or a link to one or to nothing
};

FileUse fileUse(const QString& path) {
#ifdef Q_OS_UNIX
    const std::filesystem::path native = ToPath(path);
    const FileStatus info = FileStatus::Of(native, Links::DoNotFollow);
    // Nothing there, or a folder on the way that cannot be looked into: the store's own
    // read gives the defaults and its write fails as it would.
    if (!info.exists() || info.isRegular())
        return FileUse::ReadWrite;
    if (!info.isLink())
        return FileUse::None;
    const FileStatus target = FileStatus::Of(native);
    if (!target.isRegular())
        return FileUse::None;
    return target.owner == ::geteuid() ? FileUse::ReadWrite : FileUse::ReadOnly;
#else
    const QFileInfo info(path);
    return info.exists() && !info.isFile() ? FileUse::None : FileUse::ReadWrite;
#endif
}

} // namespace

UserSettingsStore UserSettingsStore::userStore() {
#ifdef Q_OS_WIN
    return UserSettingsStore(
        Kind::Registry, QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings"));
#else
    return UserSettingsStore(
        Kind::IniFolder, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
#endif
}

UserSettingsStore UserSettingsStore::iniFolder(const QString& folder) {
    return UserSettingsStore(Kind::IniFolder, folder);
}

QString UserSettingsStore::location(const QString& appName) const {
    if (kind_ == Kind::Registry)
        return root_ + QLatin1Char('\\') + appName;
    return QDir(root_).filePath(appName + QStringLiteral(".ini"));
}

QString UserSettingsStore::GetSetting(const QString& appName, const QString& section,
                                      const QString& key,
                                      const SettingDefault& defaultValue) const {
    const QString path = location(appName);
    if (kind_ == Kind::IniFolder && fileUse(path) == FileUse::None)
        return defaultValue.text();
    const auto store = openStore(path, kind_ == Kind::Registry);
    store->beginGroup(section);
    if (store->status() != QSettings::NoError || !store->contains(key))
        return defaultValue.text();
    const QVariant value = store->value(key);
    // An INI value holding commas reads back as a list; the store only ever writes text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void UserSettingsStore::SaveSetting(const QString& appName, const QString& section,
                                    const QString& key, const QString& value) {
    const QString path = location(appName);
    if (const FileUse use = kind_ == Kind::IniFolder ? fileUse(path) : FileUse::ReadWrite;
        use != FileUse::ReadWrite)
        throw Failure(QStringLiteral("Cannot write the settings to ") + path +
                          (use == FileUse::None ? QStringLiteral(": it is not a regular file")
                                                : QStringLiteral(": it is another user's file")),
                      failure_numbers::PermissionDenied);
    if (kind_ == Kind::IniFolder && !QDir().mkpath(root_))
        throw Failure(QStringLiteral("Cannot create the settings folder ") + root_,
                      failure_numbers::PathNotFound);
    const auto store = openStore(path, kind_ == Kind::Registry);
    store->beginGroup(section);
    store->setValue(key, value);
    store->endGroup();
    store->sync();
    if (store->status() == QSettings::NoError)
        return;
    // A file that did not parse cleanly reports a format error even when the write went
    // through (the store rewrites it in good form): the value read back decides.
    if (store->status() == QSettings::FormatError) {
        const auto check = openStore(path, kind_ == Kind::Registry);
        check->beginGroup(section);
        if (check->status() == QSettings::NoError && check->contains(key) &&
            check->value(key).toString() == value)
            return;
    }
    throw Failure(QStringLiteral("Cannot write the settings to ") + path,
                  failure_numbers::PermissionDenied);
}

bool OptionValueFromText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (!isNumber)
        throw Failure(QStringLiteral("Type mismatch: \"") + text +
                          QStringLiteral("\" is not True, False or a number"),
                      failure_numbers::TypeMismatch);
    return number != 0.0;
}

} // namespace parvello
