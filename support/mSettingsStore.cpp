#include "mSettingsStore.h"

#include <QSettings>

std::unique_ptr<QSettings> OpenSettingsGroup(const QString &sGroup)
{
    // On Linux the native format is the INI file.
    auto store = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vorsk"),
                                             QStringLiteral("Vorsk"));
    store->beginGroup(sGroup);
    return store;
}
