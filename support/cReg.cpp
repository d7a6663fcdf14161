#include "cReg.h"

#include "cError.h"
#include "cRegHive.h"

#include <QtEndian>

namespace {

const QString kClassesBelowMachine = QStringLiteral("SOFTWARE\\Classes\\");

// Text of a string value: its bytes without the terminating NUL.
QString StoredText(const QByteArray &baData)
{
    return QString::fromUtf8(baData.endsWith('\0') ? baData.chopped(1) : baData);
}

// The stored value as the caller receives it; invalid when it cannot be read.
QVariant Converted(const RegValue &value)
{
    switch (value.lType) {
    case REG_SZ:
    case REG_MULTI_SZ:
        return StoredText(value.baData);
    case REG_EXPAND_SZ:
        return ExpandEnvironmentStrings(StoredText(value.baData));
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (value.baData.size() != 4)
            return {};
        return value.lType == REG_DWORD ? qFromLittleEndian<qint32>(value.baData.constData())
                                        : qFromBigEndian<qint32>(value.baData.constData());
    default:
        return value.baData;
    }
}

// A "%" with another "%" at least two characters later marks an expandable string.
bool HasEnvironmentReference(const QString &sText)
{
    const qsizetype lFirst = sText.indexOf(QLatin1Char('%'));
    return lFirst >= 0 && sText.indexOf(QLatin1Char('%'), lFirst + 2) >= 0;
}

bool IsWholeNumber32(const QVariant &vValue)
{
    switch (vValue.typeId()) {
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
        return true;
    default:
        return false;
    }
}

QByteArray LittleEndian32(qint32 lValue)
{
    QByteArray baData(4, '\0');
    qToLittleEndian(lValue, baData.data());
    return baData;
}

QString Quoted(const QString &sPath)
{
    const QString sTrimmed = sPath.trimmed();
    if (sTrimmed.size() >= 2 && sTrimmed.startsWith(QLatin1Char('"')) && sTrimmed.endsWith(QLatin1Char('"')))
        return sTrimmed;
    return QLatin1Char('"') + sTrimmed + QLatin1Char('"');
}

} // namespace

QString ExpandEnvironmentStrings(const QString &sText)
{
    QString sResult;
    qsizetype i = 0;
    while (i < sText.size()) {
        const qsizetype lOpen = sText.indexOf(QLatin1Char('%'), i);
        const qsizetype lClose = lOpen < 0 ? -1 : sText.indexOf(QLatin1Char('%'), lOpen + 1);
        if (lClose < 0) {
            sResult += QStringView(sText).mid(i);
            break;
        }
        sResult += QStringView(sText).mid(i, lOpen - i);
        const QString sName = sText.mid(lOpen + 1, lClose - lOpen - 1);
        if (!sName.isEmpty() && qEnvironmentVariableIsSet(sName.toLocal8Bit().constData())) {
            sResult += qEnvironmentVariable(sName.toLocal8Bit().constData());
            i = lClose + 1;
        } else {
            sResult += QStringView(sText).mid(lOpen, lClose - lOpen);
            i = lClose;
        }
        if (sResult.size() > MaxExpandedLength)
            return sText;
    }
    return sResult.size() > MaxExpandedLength ? sText : sResult;
}

void cReg::Raise(long lNumber, const QString &sDescription) const
{
    throw cError(lNumber, QStringLiteral(".cRegistry"), sDescription);
}

// "<ClassKey>',Section: '<SectionKey>" as the error descriptions quote a key.
QString cReg::KeyDescription() const
{
    return QString::number(m_lClassKey) + QStringLiteral("',Section: '") + m_sSectionKey;
}

QVariant cReg::Value()
{
    const cRegHive hive(m_lClassKey);
    const RegKey *key = hive.FindKey(m_sSectionKey);
    const RegValue *value = key ? key->FindValue(m_sValueKey) : nullptr;
    if (!value)
        return m_vDefault;
    m_lValueType = std::int32_t(value->lType);
    const QVariant vResult = Converted(*value);
    return vResult.isValid() ? vResult : m_vDefault;
}

void cReg::setValue(const QVariant &vValue)
{
    const QString sFailure = QStringLiteral("Failed to set registry value Key: '") + KeyDescription()
                             + QStringLiteral("',Key: '") + m_sValueKey + QStringLiteral("' to value: '")
                             + vValue.toString() + QLatin1Char('\'');
    cRegHive hive(m_lClassKey);
    RegKey *key = hive.CreateKey(m_sSectionKey);
    if (!key)
        Raise(ErrRegKeyOrValue, sFailure);
    if (m_lValueType == REG_SZ || m_lValueType == REG_EXPAND_SZ) {
        const QString sText = vValue.toString();
        key->SetValue(m_sValueKey, HasEnvironmentReference(sText) ? REG_EXPAND_SZ : REG_SZ,
                      sText.toUtf8() + '\0');
    } else if (m_lValueType == REG_BINARY) {
        if (vValue.typeId() != QMetaType::QByteArray)
            Raise(ErrRegKeyOrValue, QString());
        key->SetValue(m_sValueKey, REG_BINARY, vValue.toByteArray());
    } else if ((m_lValueType == REG_DWORD || m_lValueType == REG_DWORD_BIG_ENDIAN) && IsWholeNumber32(vValue)) {
        key->SetValue(m_sValueKey, REG_DWORD, LittleEndian32(qint32(vValue.toUInt())));
    }
    if (!hive.Save())
        Raise(ErrRegKeyOrValue, sFailure);
}

bool cReg::KeyExists() const
{
    return cRegHive(m_lClassKey).FindKey(m_sSectionKey) != nullptr;
}

bool cReg::CreateKey()
{
    cRegHive hive(m_lClassKey);
    if (!hive.CreateKey(m_sSectionKey) || !hive.Save())
        Raise(ErrRegKeyOrValue, QStringLiteral("Failed to create registry Key: '") + m_sSectionKey + QLatin1Char('\''));
    return true;
}

bool cReg::DeleteKey()
{
    cRegHive hive(m_lClassKey);
    if (!hive.DeleteKey(m_sSectionKey) || !hive.Save())
        Raise(ErrRegKeyOrValue, QStringLiteral("Failed to delete registry Key: '") + KeyDescription() + QLatin1Char('\''));
    return true;
}

bool cReg::DeleteValue()
{
    cRegHive hive(m_lClassKey);
    RegKey *key = hive.FindKey(m_sSectionKey);
    if (!key)
        Raise(ErrRegKeyOrValue, QStringLiteral("Failed to open key '") + KeyDescription() + QStringLiteral("' for delete access"));
    if (!key->RemoveValue(m_sValueKey) || !hive.Save())
        Raise(ErrRegKeyOrValue, QStringLiteral("Failed to delete registry Key: '") + KeyDescription()
                                    + QStringLiteral("',Key: '") + m_sValueKey + QLatin1Char('\''));
    return true;
}

bool cReg::EnumerateSections(std::vector<QString> &sSect, long &iSectCount)
{
    sSect.assign(1, QString());
    iSectCount = 0;
    const cRegHive hive(m_lClassKey);
    if (hive.HiveState() != cRegHive::State::Ok)
        Raise(ErrRegEnumerateSections, hive.ErrorString());
    const RegKey *key = hive.FindKey(m_sSectionKey);
    if (!key)
        return false;
    for (const auto &subKey : key->SubKeys())
        sSect.push_back(subKey->Name());
    iSectCount = long(sSect.size()) - 1;
    return true;
}

bool cReg::EnumerateValues(std::vector<QString> &sKeyNames, long &iKeyCount)
{
    sKeyNames.assign(1, QString());
    iKeyCount = 0;
    const cRegHive hive(m_lClassKey);
    const RegKey *key = hive.FindKey(m_sSectionKey);
    if (!key)
        return false;
    for (const RegValue &value : key->Values())
        sKeyNames.push_back(value.sName);
    iKeyCount = long(sKeyNames.size()) - 1;
    return true;
}

// Writes sValue as the default value of sSection under the classes root and
// under the local machine's classes.
void cReg::SetClassesValue(const QString &sSection, const QString &sValue)
{
    for (const auto &[lRoot, sPrefix] : {std::pair{HKEY_CLASSES_ROOT, QString()},
                                         std::pair{HKEY_LOCAL_MACHINE, kClassesBelowMachine}}) {
        cReg reg;
        reg.setClassKey(lRoot);
        reg.setSectionKey(sPrefix + sSection);
        reg.setValueType(REG_SZ);
        reg.setValue(sValue);
    }
}

void cReg::CreateEXEAssociation(const QString &sExePath, const QString &sClassName,
                                const QString &sClassDescription, const QString &sAssociation,
                                const QString &sOpenMenuText, bool bSupportPrint,
                                const QString &sPrintMenuText, bool bSupportNew,
                                const QString &sNewMenuText, bool bSupportInstall,
                                const QString &sInstallMenuText, long lDefaultIconIndex)
{
    const QString sPath = Quoted(sExePath);
    const QString sShell = sClassName + QStringLiteral("\\shell\\");
    SetClassesValue(QLatin1Char('.') + sAssociation, sClassName);
    SetClassesValue(sClassName, sClassDescription);
    SetClassesValue(sShell + QStringLiteral("open"), sOpenMenuText);
    SetClassesValue(sShell + QStringLiteral("open\\command"), sPath + QStringLiteral(" \"%1\""));
    if (bSupportPrint) {
        SetClassesValue(sShell + QStringLiteral("print"), sPrintMenuText);
        SetClassesValue(sShell + QStringLiteral("print\\command"), sPath + QStringLiteral(" /p \"%1\""));
    }
    if (bSupportInstall) {
        SetClassesValue(sShell + QStringLiteral("add"),
                        sInstallMenuText.isNull() ? QStringLiteral("&Install ") + sAssociation : sInstallMenuText);
        SetClassesValue(sShell + QStringLiteral("add\\command"), sPath + QStringLiteral(" /a \"%1\""));
    }
    if (bSupportNew) {
        SetClassesValue(sShell + QStringLiteral("new"), sNewMenuText);
        SetClassesValue(sShell + QStringLiteral("new\\command"), sPath + QStringLiteral(" /n \"%1\""));
    }
    if (lDefaultIconIndex >= 0)
        SetClassesValue(sClassName + QStringLiteral("\\DefaultIcon"), sPath + QLatin1Char(',') + QString::number(lDefaultIconIndex));
}

void cReg::CreateAdditionalEXEAssociations(const QString &sClassName, const QStringList &vItems)
{
    if (vItems.isEmpty() || vItems.size() % 3 != 0)
        Raise(ErrRegInvalidParameters,
              QStringLiteral("Invalid parameter list passed to CreateAdditionalEXEAssociations - expected Name/Text/Command"));
    cReg classKey;
    classKey.setClassKey(HKEY_CLASSES_ROOT);
    classKey.setSectionKey(sClassName);
    if (sClassName.trimmed().isEmpty() || !classKey.KeyExists())
        Raise(ErrRegClassNotDefined, QStringLiteral("Error - attempt to create additional associations before class defined."));
    for (qsizetype i = 0; i < vItems.size(); i += 3) {
        const QString sVerb = sClassName + QStringLiteral("\\shell\\") + vItems[i];
        SetClassesValue(sVerb, vItems[i + 1]);
        SetClassesValue(sVerb + QStringLiteral("\\command"), vItems[i + 2]);
    }
}
