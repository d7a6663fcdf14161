#pragma once

#include <QString>

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

// One refused peer: the address text exactly as typed.
class cBanUsers
{
public:
    QString Key;
};

// The ban list: entries in the order they were added, 1-based positions and
// optional unique keys. A missing entry or a key used twice raises a cError.
class cBanIP
{
    struct Entry
    {
        QString sKey;
        std::unique_ptr<cBanUsers> user;
    };
    using Entries = std::vector<Entry>;

public:
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = cBanUsers;
        using difference_type = std::ptrdiff_t;
        using pointer = const cBanUsers *;
        using reference = const cBanUsers &;

        const_iterator() = default;
        explicit const_iterator(Entries::const_iterator it) : m_it(it) {}
        const cBanUsers &operator*() const { return *m_it->user; }
        const_iterator &operator++()
        {
            ++m_it;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_it;
            return before;
        }
        bool operator==(const const_iterator &other) const = default;

    private:
        Entries::const_iterator m_it;
    };

    cBanUsers &Add(const QString &Key, const QString &sKey = QString());
    cBanUsers &Item(int lIndex);
    cBanUsers &Item(const QString &sKey);
    const cBanUsers &Item(int lIndex) const;
    const cBanUsers &Item(const QString &sKey) const;
    int Count() const;
    void Remove(int lIndex);
    void Remove(const QString &sKey);

    const_iterator begin() const { return const_iterator(m_entries.begin()); }
    const_iterator end() const { return const_iterator(m_entries.end()); }

private:
    Entries::const_iterator At(int lIndex) const;
    Entries::const_iterator At(const QString &sKey) const;
    Entries::const_iterator FindKey(const QString &sKey) const;

    Entries m_entries;
};

// A new ban list from the text of the ban box: one address per line, or ";"
// between entries. Empty pieces are skipped; nothing is trimmed; duplicates stay.
std::unique_ptr<cBanIP> FillBanList(const QString &sBanText);

// True when an entry equals the address exactly (case-sensitive, no patterns).
bool IsBanned(const cBanIP &list, const QString &address);
