#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <vector>

// Root keys.
constexpr std::int32_t HKEY_CLASSES_ROOT = std::int32_t(0x80000000u);
constexpr std::int32_t HKEY_CURRENT_USER = std::int32_t(0x80000001u);
constexpr std::int32_t HKEY_LOCAL_MACHINE = std::int32_t(0x80000002u);

// Value types.
constexpr std::int32_t REG_SZ = 1;
constexpr std::int32_t REG_EXPAND_SZ = 2;
constexpr std::int32_t REG_BINARY = 3;
constexpr std::int32_t REG_DWORD = 4;
constexpr std::int32_t REG_DWORD_BIG_ENDIAN = 5;
constexpr std::int32_t REG_MULTI_SZ = 7;

// Numbers of the errors cReg raises (cError, source "<executable>.cRegistry").
constexpr long vbObjectError = std::int32_t(0x80040000u);
constexpr long ErrRegKeyOrValue = 26001;
constexpr long ErrRegEnumerateSections = vbObjectError + 27050;
constexpr long ErrRegInvalidParameters = vbObjectError + 27052;
constexpr long ErrRegClassNotDefined = vbObjectError + 27053;

// Access to the per-user registry (cRegHive): set the root key, the key path
// and the value name, then read or write Value or call a key operation. Each
// operation loads the root's file afresh, and each change is saved at once.
class cReg
{
public:
    std::int32_t ClassKey() const { return m_lClassKey; }
    void setClassKey(std::int32_t lClassKey) { m_lClassKey = lClassKey; }
    const QString &SectionKey() const { return m_sSectionKey; }
    void setSectionKey(const QString &sSectionKey) { m_sSectionKey = sSectionKey; }
    const QString &ValueKey() const { return m_sValueKey; }
    void setValueKey(const QString &sValueKey) { m_sValueKey = sValueKey; }
    std::int32_t ValueType() const { return m_lValueType; }
    void setValueType(std::int32_t lValueType) { m_lValueType = lValueType; }
    const QVariant &Default() const { return m_vDefault; }
    void setDefault(const QVariant &vDefault) { m_vDefault = vDefault; }

    // The stored value converted by its type (text, 32-bit integer or bytes),
    // ValueType set to the stored type; Default when it cannot be read. Never
    // raises.
    QVariant Value();
    // Stores a value as ValueType says; raises ErrRegKeyOrValue on failure.
    void setValue(const QVariant &vValue);

    bool KeyExists() const;
    bool CreateKey();
    bool DeleteKey();
    bool DeleteValue();

    // Names of the sub-keys (values) of SectionKey, in the vector from index 1
    // (element 0 stays empty), their number in the count.
    bool EnumerateSections(std::vector<QString> &sSect, long &iSectCount);
    bool EnumerateValues(std::vector<QString> &sKeyNames, long &iKeyCount);

    // Associates the file type sAssociation with an executable under both the
    // classes root and the local machine's classes. A null sInstallMenuText
    // stands for "&Install " followed by sAssociation; a negative
    // lDefaultIconIndex writes no icon.
    void CreateEXEAssociation(const QString &sExePath, const QString &sClassName,
                              const QString &sClassDescription, const QString &sAssociation,
                              const QString &sOpenMenuText = QStringLiteral("&Open"),
                              bool bSupportPrint = false,
                              const QString &sPrintMenuText = QStringLiteral("&Print"),
                              bool bSupportNew = false,
                              const QString &sNewMenuText = QStringLiteral("&New"),
                              bool bSupportInstall = false, const QString &sInstallMenuText = QString(),
                              long lDefaultIconIndex = -1);
    // vItems holds Name, Text, Command triples.
    void CreateAdditionalEXEAssociations(const QString &sClassName, const QStringList &vItems);

private:
    [[noreturn]] void Raise(long lNumber, const QString &sDescription) const;
    QString KeyDescription() const;
    void SetClassesValue(const QString &sSection, const QString &sValue);

    std::int32_t m_lClassKey = HKEY_CURRENT_USER;
    QString m_sSectionKey;
    QString m_sValueKey;
    std::int32_t m_lValueType = REG_SZ;
    QVariant m_vDefault;
};

// Environment-variable references (%NAME%) in sText replaced by their values;
// references to unset variables stay as written. A result that would pass
// MaxExpandedLength characters is not expanded at all.
QString ExpandEnvironmentStrings(const QString &sText);
constexpr int MaxExpandedLength = 32767;
