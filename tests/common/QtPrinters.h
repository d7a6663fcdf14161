#pragma once

#include <QString>

#include <ostream>

// Failed checks show Qt texts as text.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
