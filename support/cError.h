#pragma once

#include <QString>
#include <stdexcept>

// A numbered error that a class raises to its caller. The source names where it
// came from: the executable's name followed by the component, e.g.
// "vorsk.mIntelJPEGLibrary".
class cError : public std::runtime_error
{
public:
    cError(long lNumber, const QString &sComponent, const QString &sDescription);

    long Number() const { return m_lNumber; }
    const QString &Source() const { return m_sSource; }
    const QString &Description() const { return m_sDescription; }

private:
    long m_lNumber;
    QString m_sSource;
    QString m_sDescription;
};

// The running executable's file name without its folder.
QString ExecutableName();
