#include "mSettingsStore.h"

#include <QSettings>

namespace {

QString &SettingsFile()
{
    static QString sPath;
    return sPath;
}

} // namespace

std::unique_ptr<QSettings> OpenSettingsGroup(const QString &sGroup)
{
    // On Linux the native format is the INI file.
    auto store = SettingsFile().isEmpty()
                     ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                   QStringLiteral("Vorsk"), QStringLiteral("Vorsk"))
                     : std::make_unique<QSettings>(SettingsFile(), QSettings::IniFormat);
    store->beginGroup(sGroup);
    return store;
}

void UseSettingsFile(const QString &sPath)
{
    SettingsFile() = sPath;
}

QString NamedSettingsFile()
{
    return SettingsFile();
}
