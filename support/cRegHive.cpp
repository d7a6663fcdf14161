#include "cRegHive.h"

#include "mSafeFile.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

#include <cstring>

namespace {

constexpr quint32 kMagic = 0x56524B48; // "VRKH"
constexpr quint32 kFormatVersion = 1;

bool SameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QStringList SplitPath(const QString &sPath)
{
    return sPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

bool IsValidKeyName(const QString &sName)
{
    return !sName.isEmpty() && sName.size() <= cRegHive::MaxKeyNameLength && !sName.contains(QLatin1Char('\\'));
}

void WriteKey(QDataStream &out, const RegKey &key)
{
    out << key.Name() << quint32(key.Values().size());
    for (const RegValue &value : key.Values())
        out << value.sName << quint32(value.lType) << value.baData;
    out << quint32(key.SubKeys().size());
    for (const auto &subKey : key.SubKeys())
        WriteKey(out, *subKey);
}

} // namespace

const RegValue *RegKey::FindValue(const QString &sName) const
{
    for (const RegValue &value : m_values) {
        if (SameName(value.sName, sName))
            return &value;
    }
    return nullptr;
}

void RegKey::SetValue(const QString &sName, std::uint32_t lType, const QByteArray &baData)
{
    for (RegValue &value : m_values) {
        if (SameName(value.sName, sName)) {
            value.lType = lType;
            value.baData = baData;
            return;
        }
    }
    m_values.push_back(RegValue{sName, lType, baData});
}

bool RegKey::RemoveValue(const QString &sName)
{
    for (auto it = m_values.begin(); it != m_values.end(); ++it) {
        if (SameName(it->sName, sName)) {
            m_values.erase(it);
            return true;
        }
    }
    return false;
}

RegKey *RegKey::FindSubKey(const QString &sName) const
{
    for (const auto &subKey : m_subKeys) {
        if (SameName(subKey->Name(), sName))
            return subKey.get();
    }
    return nullptr;
}

RegKey *RegKey::AddSubKey(const QString &sName)
{
    if (RegKey *existing = FindSubKey(sName))
        return existing;
    m_subKeys.push_back(std::make_unique<RegKey>(sName));
    return m_subKeys.back().get();
}

bool RegKey::RemoveSubKey(const QString &sName)
{
    for (auto it = m_subKeys.begin(); it != m_subKeys.end(); ++it) {
        if (SameName((*it)->Name(), sName)) {
            m_subKeys.erase(it);
            return true;
        }
    }
    return false;
}

// Reads one key record and everything below it; null when the record is not
// exactly as the format says.
std::unique_ptr<RegKey> cRegHive::ReadKey(QDataStream &in, int lDepth)
{
    QString sName;
    quint32 lValueCount = 0;
    in >> sName >> lValueCount;
    if (in.status() != QDataStream::Ok || (lDepth > 0 && !IsValidKeyName(sName)))
        return nullptr;
    auto key = std::make_unique<RegKey>(sName);
    QSet<QString> seen;
    for (quint32 i = 0; i < lValueCount; ++i) {
        RegValue value;
        quint32 lType = 0;
        in >> value.sName >> lType >> value.baData;
        value.lType = lType;
        const QString sFolded = value.sName.toCaseFolded();
        if (in.status() != QDataStream::Ok || value.sName.size() > MaxValueNameLength
            || seen.contains(sFolded))
            return nullptr;
        seen.insert(sFolded);
        key->m_values.push_back(std::move(value));
    }
    quint32 lSubKeyCount = 0;
    in >> lSubKeyCount;
    if (in.status() != QDataStream::Ok || (lSubKeyCount > 0 && lDepth >= MaxDepth))
        return nullptr;
    seen.clear();
    for (quint32 i = 0; i < lSubKeyCount; ++i) {
        std::unique_ptr<RegKey> subKey = ReadKey(in, lDepth + 1);
        if (!subKey || seen.contains(subKey->Name().toCaseFolded()))
            return nullptr;
        seen.insert(subKey->Name().toCaseFolded());
        key->m_subKeys.push_back(std::move(subKey));
    }
    return key;
}

cRegHive::cRegHive(std::int32_t lClassKey) : m_root(std::make_unique<RegKey>())
{
    const QString sRoot = RootName(lClassKey);
    if (sRoot.isEmpty()) {
        SetState(State::UnknownRoot, QStringLiteral("Unknown root key %1").arg(lClassKey));
        return;
    }
    const QString sFolder = FolderPath();
    if (sFolder.isEmpty()) {
        SetState(State::Unreadable, QStringLiteral("No configuration folder"));
        return;
    }
    m_sFile = sFolder + sRoot + QStringLiteral(".hive");
    Load();
}

QString cRegHive::FolderPath()
{
    const QString sConfig = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (sConfig.isEmpty())
        return {};
    return sConfig + QStringLiteral("/Vorsk/registry/");
}

QString cRegHive::RootName(std::int32_t lClassKey)
{
    switch (std::uint32_t(lClassKey)) {
    case 0x80000000: return QStringLiteral("HKEY_CLASSES_ROOT");
    case 0x80000001: return QStringLiteral("HKEY_CURRENT_USER");
    case 0x80000002: return QStringLiteral("HKEY_LOCAL_MACHINE");
    case 0x80000003: return QStringLiteral("HKEY_USERS");
    case 0x80000005: return QStringLiteral("HKEY_CURRENT_CONFIG");
    default: return {};
    }
}

void cRegHive::SetState(State state, const QString &sError)
{
    m_state = state;
    m_sError = sError;
    if (state != State::Ok)
        m_root = std::make_unique<RegKey>();
}

void cRegHive::Load()
{
    QFile file(m_sFile);
    if (!file.exists())
        return;
    // Anything but a plain file (a folder, a pipe that would block) is not read.
    if (!QFileInfo(m_sFile).isFile()) {
        SetState(State::Unreadable, QStringLiteral("%1 is not a file").arg(m_sFile));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        SetState(State::Unreadable, file.errorString());
        return;
    }
    // Read one byte past the limit, so that no file (nor a device behind a
    // link) can make this read unbounded.
    const QByteArray baBytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        SetState(State::Unreadable, file.errorString());
        return;
    }
    QDataStream in(baBytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 lMagic = 0;
    quint32 lVersion = 0;
    in >> lMagic >> lVersion;
    std::unique_ptr<RegKey> root;
    if (baBytes.size() <= MaxFileSize && lMagic == kMagic && lVersion == kFormatVersion)
        root = ReadKey(in, 0);
    if (!root || !in.atEnd()) {
        SetState(State::Corrupt, QStringLiteral("The registry file %1 is damaged").arg(m_sFile));
        return;
    }
    m_root = std::move(root);
}

RegKey *cRegHive::FindKey(const QString &sPath) const
{
    if (m_state != State::Ok)
        return nullptr;
    RegKey *key = m_root.get();
    for (const QString &sName : SplitPath(sPath)) {
        key = key->FindSubKey(sName);
        if (!key)
            return nullptr;
    }
    return key;
}

RegKey *cRegHive::CreateKey(const QString &sPath)
{
    const QStringList names = SplitPath(sPath);
    if (m_state != State::Ok || names.size() > MaxDepth)
        return nullptr;
    for (const QString &sName : names) {
        if (!IsValidKeyName(sName))
            return nullptr;
    }
    RegKey *key = m_root.get();
    for (const QString &sName : names)
        key = key->AddSubKey(sName);
    return key;
}

bool cRegHive::DeleteKey(const QString &sPath)
{
    QStringList names = SplitPath(sPath);
    if (names.isEmpty())
        return false;
    const QString sLast = names.takeLast();
    RegKey *parent = FindKey(names.join(QLatin1Char('\\')));
    RegKey *key = parent ? parent->FindSubKey(sLast) : nullptr;
    if (!key || !key->SubKeys().empty())
        return false;
    return parent->RemoveSubKey(sLast);
}

bool cRegHive::Save()
{
    if (m_state != State::Ok)
        return false;
    QByteArray baBytes;
    {
        QDataStream out(&baBytes, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kMagic << kFormatVersion;
        WriteKey(out, *m_root);
    }
    if (baBytes.size() > MaxFileSize) {
        m_sError = QStringLiteral("The registry file would grow beyond its limit");
        return false;
    }
    if (!QDir().mkpath(FolderPath())) {
        m_sError = QStringLiteral("Cannot create the folder %1").arg(FolderPath());
        return false;
    }
    const int lError = ReplaceFileContents(m_sFile, baBytes.constData(), std::size_t(baBytes.size()), true);
    if (lError != 0) {
        m_sError = QString::fromLocal8Bit(std::strerror(lError));
        return false;
    }
    return true;
}
