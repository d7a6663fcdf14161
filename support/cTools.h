#pragma once

#include <QFont>
#include <QString>
#include <cstdint>
#include <optional>

class QImage;

// The version record of the running Windows system; Linux has none.
struct OSVersionRecord
{
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
    std::uint32_t dwBuildNumber = 0;
    std::uint32_t dwPlatformId = 0;
    QString szCSDVersion;
};

// Font, colours and placement of one caption drawn by cTools::pDrawTextOnImage.
struct CaptionFont
{
    QString szFont;
    QString FontSize; // points, as text (e.g. "8.25")
    bool blBold = false;
    bool FontItalic = false;
    bool FontStrikethru = false;
    bool FontUnderline = false;

    // The font drawn, at dPointSize points.
    QFont QtFont(double dPointSize) const;
};

// Small stateless system helpers, shared by the whole program through Tools().
class cTools
{
public:
    QString LoadFile(const QString &sFIle) const;
    QString pTrimString(const QString &sValue) const;
    bool pDrawTextOnImage(const QString &szTxt, double x, double y, std::uint32_t szForeColor,
                          std::uint32_t szBackColor, bool blTransparent, const CaptionFont &font,
                          QImage &objPicBox, double &NewX, double &NewY) const;
    bool IsWIN95() const;
    QString WinVer() const;
    bool ISXP() const;
    long CntWord(const QString &strSource, const QString &strSubString) const;
    QString RetSysDir(int nSwitch) const;
    // The body of the answer to a GET of sURL, one character per byte, whatever
    // the HTTP status; "" when the fetch fails, takes longer than lTotalTimeoutMs
    // or the body exceeds 1 MiB. No proxy is used.
    QString GetUrlSource(const QString &sURL, int lTotalTimeoutMs = 10000) const;
    // Opens the URL with the desktop's default handler; the outcome is not reported.
    void mSurfToURL(const QString &szURL) const;
    // The same for a URL that holds a secret, kept off every command line
    // (which any local user may read): the handler is given a page in the
    // private folder, which only the owner can enter, that leads on to the
    // URL. False when the page cannot be written.
    bool mSurfToURLPrivately(const QString &szURL) const;
};

// The one cTools object of the program, created on first use.
cTools &Tools();

// The version name for a version record; empty for any system not in the table.
QString WinVerName(const OSVersionRecord &record);

// The running system's version record: always empty on Linux.
std::optional<OSVersionRecord> GetVersionRecord();
