#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class QDataStream;

// One value of a registry key: its type code and its bytes exactly as written.
struct RegValue
{
    QString sName;
    std::uint32_t lType = 0;
    QByteArray baData;
};

// One registry key. Names of keys and values compare without regard to case and
// keep the case they were created with; both lists keep their creation order.
class RegKey
{
public:
    explicit RegKey(const QString &sName = QString()) : m_sName(sName) {}

    const QString &Name() const { return m_sName; }
    const std::vector<RegValue> &Values() const { return m_values; }
    const std::vector<std::unique_ptr<RegKey>> &SubKeys() const { return m_subKeys; }

    const RegValue *FindValue(const QString &sName) const;
    void SetValue(const QString &sName, std::uint32_t lType, const QByteArray &baData);
    bool RemoveValue(const QString &sName);

    RegKey *FindSubKey(const QString &sName) const;
    RegKey *AddSubKey(const QString &sName);
    bool RemoveSubKey(const QString &sName);

private:
    friend class cRegHive; // appends without looking up while it loads a file

    QString m_sName;
    std::vector<RegValue> m_values;
    std::vector<std::unique_ptr<RegKey>> m_subKeys;
};

// The per-user stand-in for one root key of the registry: the whole tree below
// the root, loaded from and saved to one file in the user's config folder,
// <config>/Vorsk/registry/<root name>.hive (e.g. HKEY_CURRENT_USER.hive).
//
// File format (QDataStream, stream version Qt 6.0, big-endian):
//   quint32 magic 0x56524B48 ("VRKH"), quint32 format version 1,
//   then the root key record, and nothing after it. A key record is
//   QString name, quint32 value count, per value (QString name, quint32 type,
//   QByteArray bytes), quint32 sub-key count, then each sub-key's record.
//
// A file larger than MaxFileSize, nested deeper than MaxDepth, holding a name
// that is too long or twice in one key, or not exactly in this format is
// corrupt: it reads as an empty hive and is never written over, so whatever is
// left in it stays for the user to inspect. A hive that would not fit these
// limits is never saved.
class cRegHive
{
public:
    enum class State { Ok, Corrupt, Unreadable, UnknownRoot };

    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;
    static constexpr int MaxDepth = 512;
    static constexpr int MaxKeyNameLength = 255;
    static constexpr int MaxValueNameLength = 16383;

    // Loads the hive of a root key constant; a missing file is an empty hive.
    explicit cRegHive(std::int32_t lClassKey);

    // <config>/Vorsk/registry/, ending in a separator; empty without a config folder.
    static QString FolderPath();
    // "HKEY_CURRENT_USER" and the like; empty for an unknown constant.
    static QString RootName(std::int32_t lClassKey);

    State HiveState() const { return m_state; }
    const QString &ErrorString() const { return m_sError; }
    const QString &FilePath() const { return m_sFile; }

    // The key at a backslash-separated path below the root; the empty path is
    // the root itself, empty path elements are skipped. Null when it does not
    // exist or the hive is not loaded.
    RegKey *FindKey(const QString &sPath) const;
    // Finds or creates every key along the path; null when the hive cannot be
    // written, a name is too long or the path too deep.
    RegKey *CreateKey(const QString &sPath);
    // Removes a key that has no sub-keys; the root cannot be removed.
    bool DeleteKey(const QString &sPath);
    // Writes the tree to a temporary file and renames it over the hive file.
    bool Save();

private:
    void Load();
    static std::unique_ptr<RegKey> ReadKey(QDataStream &in, int lDepth);
    void SetState(State state, const QString &sError);

    QString m_sFile;
    State m_state = State::Ok;
    QString m_sError;
    std::unique_ptr<RegKey> m_root;
};
