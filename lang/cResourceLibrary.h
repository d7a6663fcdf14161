#pragma once

#include "vorskres.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <memory>

class cLibraryFile;

// The cResource object of one loaded wording library. The library stays loaded while the
// object lives.
class cResourceLibrary
{
public:
    // The object of the first candidate library that serves the class cResource. Throws
    // cError 429 that names every candidate and why it failed when none does.
    static std::unique_ptr<cResourceLibrary> Open(const QStringList &candidates);

    ~cResourceLibrary();
    cResourceLibrary(const cResourceLibrary &) = delete;
    cResourceLibrary &operator=(const cResourceLibrary &) = delete;

    const QString &Path() const { return m_sPath; }
    qint32 LangID() const;
    void SetLangID(qint32 lLangID);
    // The text stored under ResourceID, exactly as stored; empty when there is none.
    QString Loadresstring(qint32 ResourceID) const;
    // Picture id of kind restype (vbResBitmap); a null image when there is none.
    QImage LoadResPicture2(qint16 id, qint16 restype) const;

private:
    cResourceLibrary(std::unique_ptr<cLibraryFile> file, void *hLibrary,
                     cResourceInterface *pObject, const QString &sPath);

    std::unique_ptr<cLibraryFile> m_file;
    void *m_hLibrary;
    cResourceInterface *m_pObject;
    QString m_sPath;
};

// Where the wording library is looked for, in order: the library the per-user component
// registry names for the class, the one beside the executable, the installed one.
QStringList ResourceLibraryCandidates(const QString &sExecutableDir);
