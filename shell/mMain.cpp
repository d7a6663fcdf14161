#include "mMain.h"

#include "cReg.h"
#include "cTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString VersionText(int lMajor, int lMinor, int lRevision)
{
    return QString::number(lMajor) + QLatin1Char('.') + QString::number(lMinor) + QStringLiteral(".3") +
           QString::number(lRevision);
}

bool IsClassicStyle()
{
    if (!Tools().ISXP())
        return true;
    cReg reg;
    reg.setClassKey(HKEY_CURRENT_USER);
    reg.setSectionKey(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager"));
    reg.setValueKey(QStringLiteral("ThemeActive"));
    reg.setValueType(REG_SZ);
    // A missing value, and any text that is not a number, count as 0.
    return reg.Value().toString().toInt() == 0;
}

QString HelpPagePath()
{
    const QDir exeDir(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {exeDir.filePath(QStringLiteral("help/index.html")),
                                     exeDir.filePath(QStringLiteral("../share/vorsk/help/index.html"))}) {
        if (QFileInfo(candidate).isFile())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

QString PictureBaseName(const QString &sWording)
{
    // Room for ".jpg" and the temporary name a new picture is written under.
    constexpr qsizetype kMaxNameBytes = 200;
    const bool plain = !sWording.isEmpty() && sWording != QLatin1String(".") && sWording != QLatin1String("..") &&
                       !sWording.contains(QLatin1Char('/')) && !sWording.contains(QChar(0)) &&
                       sWording.toUtf8().size() <= kMaxNameBytes;
    return plain ? sWording : QStringLiteral("lastpic");
}
