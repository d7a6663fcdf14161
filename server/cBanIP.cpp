#include "cBanIP.h"

#include "cError.h"

#include <QStringList>

#include <algorithm>

namespace {

const QString kComponent = QStringLiteral(".cBanIP");

} // namespace

cBanUsers &cBanIP::Add(const QString &Key, const QString &sKey)
{
    if (!sKey.isEmpty() && FindKey(sKey) != m_entries.end())
        throw cError(457, kComponent,
                     QStringLiteral("This key is already associated with an element of this collection"));
    auto user = std::make_unique<cBanUsers>();
    user->Key = Key;
    m_entries.push_back({sKey, std::move(user)});
    return *m_entries.back().user;
}

cBanUsers &cBanIP::Item(int lIndex)
{
    return *At(lIndex)->user;
}

cBanUsers &cBanIP::Item(const QString &sKey)
{
    return *At(sKey)->user;
}

const cBanUsers &cBanIP::Item(int lIndex) const
{
    return *At(lIndex)->user;
}

const cBanUsers &cBanIP::Item(const QString &sKey) const
{
    return *At(sKey)->user;
}

int cBanIP::Count() const
{
    return static_cast<int>(m_entries.size());
}

void cBanIP::Remove(int lIndex)
{
    m_entries.erase(At(lIndex));
}

void cBanIP::Remove(const QString &sKey)
{
    m_entries.erase(At(sKey));
}

cBanIP::Entries::const_iterator cBanIP::At(int lIndex) const
{
    if (lIndex < 1 || lIndex > Count())
        throw cError(9, kComponent, QStringLiteral("Subscript out of range"));
    return m_entries.begin() + (lIndex - 1);
}

cBanIP::Entries::const_iterator cBanIP::At(const QString &sKey) const
{
    const auto it = FindKey(sKey);
    if (it == m_entries.end())
        throw cError(9, kComponent, QStringLiteral("Subscript out of range"));
    return it;
}

// Entries added without a key can only be reached by position.
cBanIP::Entries::const_iterator cBanIP::FindKey(const QString &sKey) const
{
    if (sKey.isEmpty())
        return m_entries.end();
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [&sKey](const Entry &entry) { return entry.sKey == sKey; });
}

std::unique_ptr<cBanIP> FillBanList(const QString &sBanText)
{
    auto list = std::make_unique<cBanIP>();
    // Entries stand one a line (";" between them in the settings file). A tab
    // (pasted, or typed before Tab left the box) separates entries too, instead
    // of spoiling the ban of the address beside it; spaces stay as typed.
    QString text = sBanText;
    text.replace(QLatin1String("\r\n"), QLatin1String(";"))
        .replace(QLatin1Char('\n'), QLatin1Char(';'))
        .replace(QLatin1Char('\t'), QLatin1Char(';'));
    for (const QString &piece : text.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        list->Add(piece);
    return list;
}

bool IsBanned(const cBanIP &list, const QString &address)
{
    return std::any_of(list.begin(), list.end(),
                       [&address](const cBanUsers &user) { return user.Key == address; });
}
