#include "mStatusPage.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

TEST(mStatusPage, PageOfTheRelease)
{
    EXPECT_EQ(retUptimePage(3, 0, 0, QStringLiteral("0 Days 0 Hours 1 Minutes 0 Secs "), QStringLiteral("12")),
              QStringLiteral("<HTML><HEAD></HEAD><BODY><FONT size=5 face=Arial><B>Vorsk Server 3.0.30</B></FONT>"
                             "<BR><FONT face=Verdana size=1>Vorsk webcam image server<BR><BR></FONT><BR>"
                             "<FONT face=Verdana size=1><B><FONT face=Arial size=2>Server uptime</FONT></B><BR>"
                             "0 Days 0 Hours 1 Minutes 0 Secs <BR><BR><B><FONT face=Arial size=2>Total hits"
                             "</FONT></B><BR>12<BR><BR><BR><BR><A href=\"https://vorsk.example/\">vorsk.example"
                             "</A></FONT><BR></FONT></BODY></HTML>"));
    // Captions are copied as they are, even ones that look like placeholders.
    const QString page = retUptimePage(12, 3, 45, QStringLiteral("%1"), QStringLiteral("-"));
    EXPECT_TRUE(page.contains(QStringLiteral("Vorsk Server 12.3.345</B>")));
    EXPECT_TRUE(page.contains(QStringLiteral("uptime</FONT></B><BR>%1<BR>")));
    EXPECT_FALSE(page.contains(QLatin1Char('\n')) || page.contains(QLatin1Char('\r')));
}
