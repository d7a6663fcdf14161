#include "cTools.h"

#include "cCommonDialog.h"
#include "mPrivateFolder.h"
#include "mSafeFile.h"

#include "vorskres.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QUrl>

#include <cstddef>
#include <memory>

#include <curl/curl.h>

namespace {

// LoadFile reads whole files into memory; anything larger is refused.
constexpr qint64 kMaxLoadFileBytes = 64 * 1024 * 1024;

// The composition surfaces are 96 dots per inch: 15 twips make one pixel.
constexpr double kTwipsPerPixel = 15.0;
constexpr int kDotsPerMeter96 = 3780; // 96 dpi

} // namespace

QString cTools::LoadFile(const QString &sFIle) const
{
    if (!QFileInfo(sFIle).absoluteDir().exists())
        return QStringLiteral("Cant find file!");
    QFile file(sFIle);
    // Opening for reading and writing creates a missing file, empty.
    if (!file.open(QIODevice::ReadWrite) && !file.open(QIODevice::ReadOnly))
        return {};
    if (file.size() > kMaxLoadFileBytes)
        return {};
    return QString::fromLocal8Bit(file.readAll());
}

QString cTools::pTrimString(const QString &sValue) const
{
    qsizetype first = 0;
    qsizetype last = sValue.size();
    while (first < last && sValue.at(first).unicode() <= 32)
        ++first;
    while (last > first && sValue.at(last - 1).unicode() <= 32)
        --last;
    return sValue.mid(first, last - first);
}

QFont CaptionFont::QtFont(double dPointSize) const
{
    QFont qfont(szFont);
    qfont.setPointSizeF(dPointSize);
    qfont.setItalic(FontItalic);
    qfont.setStrikeOut(FontStrikethru);
    qfont.setUnderline(FontUnderline);
    qfont.setBold(blBold);
    return qfont;
}

bool cTools::pDrawTextOnImage(const QString &szTxt, double x, double y, std::uint32_t szForeColor,
                              std::uint32_t szBackColor, bool blTransparent,
                              const CaptionFont &font, QImage &objPicBox, double &NewX,
                              double &NewY) const
{
    bool sizeIsNumber = false;
    const double pointSize = font.FontSize.toDouble(&sizeIsNumber);
    if (!sizeIsNumber || pointSize <= 0 || objPicBox.isNull())
        return false;

    objPicBox.setDotsPerMeterX(kDotsPerMeter96);
    objPicBox.setDotsPerMeterY(kDotsPerMeter96);

    QPainter painter(&objPicBox);
    painter.setFont(font.QtFont(pointSize));
    const QFontMetricsF metrics(painter.font(), &objPicBox);
    const double w = metrics.horizontalAdvance(szTxt) * kTwipsPerPixel;
    const double h = metrics.height() * kTwipsPerPixel;
    const QPointF topLeft(x / kTwipsPerPixel, y / kTwipsPerPixel);

    if (!blTransparent)
        painter.fillRect(QRectF(topLeft, QSizeF(w, h) / kTwipsPerPixel), ColorFromBGR(szBackColor));
    painter.setPen(ColorFromBGR(szForeColor));
    painter.drawText(topLeft + QPointF(0, metrics.ascent()), szTxt);

    // Like a printed line, the drawing position moves to the start of the next line.
    NewX = 0;
    NewY = y + h;
    return true;
}

bool cTools::IsWIN95() const
{
    return WinVer().toLower().contains(QStringLiteral("windows 95"));
}

QString cTools::WinVer() const
{
    const auto record = GetVersionRecord();
    return record ? WinVerName(*record) : QString();
}

bool cTools::ISXP() const
{
    return WinVer() == QStringLiteral("Windows XP");
}

long cTools::CntWord(const QString &strSource, const QString &strSubString) const
{
    if (strSubString.isEmpty())
        return 0;
    long count = 0;
    qsizetype from = 0;
    while ((from = strSource.indexOf(strSubString, from)) >= 0) {
        ++count;
        from += strSubString.size();
    }
    return count;
}

QString cTools::RetSysDir(int nSwitch) const
{
    // Linux has no system or Windows folder; the program only needs the temporary one.
    if (nSwitch != LDV_TempFolder)
        return {};
    const QString folder = PrivateTempFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/');
}

namespace {

// The public-address service answers a few bytes; a larger body is refused so
// that a wrong or hostile URL cannot fill the memory.
constexpr std::size_t kMaxUrlBodyBytes = 1024 * 1024;
constexpr long kUrlConnectTimeoutMs = 5000;

std::size_t AppendUrlBody(char *data, std::size_t size, std::size_t count, void *body)
{
    auto *bytes = static_cast<QByteArray *>(body);
    const std::size_t length = size * count;
    if (length > kMaxUrlBodyBytes - static_cast<std::size_t>(bytes->size()))
        return 0; // ends the transfer with an error
    bytes->append(data, static_cast<qsizetype>(length));
    return length;
}

} // namespace

QString cTools::GetUrlSource(const QString &sURL, int lTotalTimeoutMs) const
{
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return {};
    const QByteArray url = sURL.toUtf8();
    QByteArray body;
    CURL *handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "vb wininet");
    // Only the schemes a web client opens; curl alone would also read file: URLs.
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    // Bounded, so an unreachable service cannot hold the window for long.
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, kUrlConnectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(lTotalTimeoutMs));
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &AppendUrlBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(handle) != CURLE_OK)
        return {};
    return QString::fromLatin1(body);
}

void cTools::mSurfToURL(const QString &szURL) const
{
    QDesktopServices::openUrl(QUrl(szURL));
}

bool cTools::mSurfToURLPrivately(const QString &szURL) const
{
    const QString folder = RetSysDir(LDV_TempFolder);
    if (folder.isEmpty())
        return false;
    const QString link = szURL.toHtmlEscaped();
    const QByteArray page = QStringLiteral("<!DOCTYPE html>\n<meta charset=\"utf-8\">\n"
                                           "<meta http-equiv=\"refresh\" content=\"0; url=%1\">\n"
                                           "<title>Vorsk</title>\n<a href=\"%1\">Vorsk</a>\n")
                                .arg(link)
                                .toUtf8();
    const QString path = folder + QStringLiteral("open.html");
    if (ReplaceFileContents(path, page.constData(), std::size_t(page.size()), false) != 0)
        return false;
    mSurfToURL(QUrl::fromLocalFile(path).toString());
    return true;
}

cTools &Tools()
{
    static cTools tools;
    return tools;
}

QString WinVerName(const OSVersionRecord &record)
{
    const QString servicePack = record.szCSDVersion.left(2);
    switch (record.dwPlatformId) {
    case 0:
        return QStringLiteral("Windows 3.1 with Win 32s");
    case 1:
        switch (record.dwMinorVersion) {
        case 0:
            return servicePack == QStringLiteral(" C") ? QStringLiteral("Windows95 OSR2")
                                                       : QStringLiteral("Windows 95");
        case 10:
            return servicePack == QStringLiteral(" A") ? QStringLiteral("Windows 98 SE")
                                                       : QStringLiteral("Windows 98");
        case 90:
            return QStringLiteral("Windows Me");
        }
        return {};
    case 2:
        if (record.dwMajorVersion == 3)
            return QStringLiteral("Windows NT 3.51");
        if (record.dwMajorVersion == 4)
            return QStringLiteral("WindowsNT 4.0");
        if (record.dwMajorVersion == 5 && record.dwMinorVersion == 0)
            return QStringLiteral("Windows 2000");
        if (record.dwMajorVersion == 5 && record.dwMinorVersion == 1)
            return QStringLiteral("Windows XP");
        return {};
    }
    return {};
}

std::optional<OSVersionRecord> GetVersionRecord()
{
    return std::nullopt;
}
