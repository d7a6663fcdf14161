#include "cError.h"

#include <QFileInfo>

cError::cError(long lNumber, const QString &sComponent, const QString &sDescription)
    : std::runtime_error(sDescription.toStdString()),
      m_lNumber(lNumber),
      m_sSource(ExecutableName() + sComponent),
      m_sDescription(sDescription)
{
}

QString ExecutableName()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), -1);
}
