#include "mStatusPage.h"

QString retUptimePage(int lMajor, int lMinor, int lRevision, const QString &sUptime, const QString &sHits)
{
    // Multi-argument arg() substitutes in one pass, so a "%" in the uptime or
    // hits text is taken literally.
    return QStringLiteral("<HTML><HEAD></HEAD><BODY><FONT size=5 face=Arial><B>Vorsk Server %1.%2.3%3"
                          "</B></FONT><BR><FONT face=Verdana size=1>"
                          "Vorsk webcam image server"
                          "<BR><BR></FONT><BR><FONT face=Verdana size=1><B><FONT face=Arial size=2>Server uptime</FONT></B><BR>"
                          "%4"
                          "<BR><BR><B><FONT face=Arial size=2>Total hits</FONT></B><BR>"
                          "%5"
                          "<BR><BR><BR><BR>"
                          "<A href=\"https://vorsk.example/\">vorsk.example</A></FONT>"
                          "<BR></FONT></BODY></HTML>")
        .arg(QString::number(lMajor), QString::number(lMinor), QString::number(lRevision), sUptime, sHits);
}
