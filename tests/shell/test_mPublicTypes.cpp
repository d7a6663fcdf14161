#include "mNumbers.h"
#include "mPublicTypes.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// Two numeric boxes in a shown window, so that keys and focus behave.
struct NumericBoxes
{
    NumericBoxes()
    {
        port.setParent(&window);
        interval.setParent(&window);
        interval.move(0, 30);
        AttachNumericBox(port);
        AttachNumericBox(interval);
        window.show();
        QApplication::setActiveWindow(&window);
        sLastValidText.clear();
    }
    QWidget window;
    QLineEdit port, interval;
};

} // namespace

TEST(NumericBoxes, NumberGrammar)
{
    for (const char *good : {"0", "80", "-5", "+5", "2.5", ".5", "5.", "007"})
        EXPECT_TRUE(IsNumericText(QString::fromLatin1(good))) << good;
    for (const char *bad : {"", "-", "+", ".", "1e3", " 1", "1 ", "12a", "--1", "1.2.3", "0x10", "٣"})
        EXPECT_FALSE(IsNumericText(QString::fromUtf8(bad))) << bad;
    bool ok = false;
    EXPECT_EQ(NumericValue(QStringLiteral("2.5"), &ok), 2.5);
    EXPECT_TRUE(ok);
    EXPECT_EQ(WholeNumberValue(QStringLiteral("2.5")), 2);
    EXPECT_EQ(WholeNumberValue(QStringLiteral("3.5")), 4);
    WholeNumberValue(QStringLiteral("99999999999"), &ok);
    EXPECT_FALSE(ok);
}

TEST(NumericBoxes, TypedSignsFollowTheCaretRule)
{
    NumericBoxes boxes;
    boxes.port.setText(QStringLiteral("5"));
    boxes.port.setFocus();
    boxes.port.setCursorPosition(0);
    QTest::keyClicks(&boxes.port, QStringLiteral("-"));
    EXPECT_EQ(boxes.port.text(), QStringLiteral("-5"));
    boxes.port.setCursorPosition(0);
    QTest::keyClicks(&boxes.port, QStringLiteral("+"));
    EXPECT_EQ(boxes.port.text(), QStringLiteral("-5")) << "a second sign is ignored";
    boxes.port.end(false);
    QTest::keyClicks(&boxes.port, QStringLiteral("+x."));
    EXPECT_EQ(boxes.port.text(), QStringLiteral("-5"));
    EXPECT_EQ(boxes.port.cursorPosition(), 2) << "a refused key leaves the caret";
    QTest::keyClicks(&boxes.port, QStringLiteral("12"));
    QTest::keyClick(&boxes.port, Qt::Key_Backspace);
    EXPECT_EQ(boxes.port.text(), QStringLiteral("-51"));

    // A lone "-" in an empty box is no number: the last accepted text comes back.
    boxes.port.setText(QStringLiteral("80"));
    boxes.interval.setFocus();
    QTest::keyClicks(&boxes.interval, QStringLiteral("-"));
    EXPECT_EQ(boxes.interval.text(), QStringLiteral("80"));
}

TEST(NumericBoxes, PastedJunkIsRepairedFromTheSharedText)
{
    NumericBoxes boxes;
    boxes.port.setText(QStringLiteral("80"));
    boxes.interval.setText(QStringLiteral("3"));
    boxes.port.setFocus();
    boxes.port.setText(QStringLiteral("80"));
    boxes.interval.setFocus(); // the port box is validated as the focus leaves it
    EXPECT_EQ(sLastValidText, QStringLiteral("80"));

    QApplication::clipboard()->setText(QStringLiteral("12a"));
    boxes.interval.selectAll();
    QTest::keyClick(&boxes.interval, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(boxes.interval.text(), QStringLiteral("80"));
    EXPECT_EQ(boxes.interval.cursorPosition(), 0);

    // The caret goes where the repaired text first differed from the remembered one.
    boxes.interval.setText(QStringLiteral("815"));
    boxes.interval.setText(QStringLiteral("81x5"));
    EXPECT_EQ(boxes.interval.text(), QStringLiteral("815"));
    EXPECT_EQ(boxes.interval.cursorPosition(), 2);

    // Copy, cut and Enter are refused as typed characters.
    boxes.interval.selectAll();
    QTest::keyClick(&boxes.interval, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(boxes.interval.text(), QStringLiteral("815"));
}

TEST(NumericBoxes, EditingKeysPassAndCopyAndCutStayBlocked)
{
    NumericBoxes boxes;
    boxes.port.setFocus();
    boxes.port.setText(QStringLiteral("1234"));

    // Delete comes from X11 with the text 0x7F: it deletes, it is no character to refuse.
    boxes.port.setCursorPosition(0);
    QTest::keyClick(&boxes.port, Qt::Key_Delete, Qt::NoModifier);
    QKeyEvent x11Delete(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7F)));
    QApplication::sendEvent(&boxes.port, &x11Delete);
    EXPECT_EQ(boxes.port.text(), QStringLiteral("34"));

    QTest::keyClick(&boxes.port, Qt::Key_End);
    QTest::keyClick(&boxes.port, Qt::Key_Left);
    QTest::keyClick(&boxes.port, Qt::Key_5);
    EXPECT_EQ(boxes.port.text(), QStringLiteral("354"));
    QTest::keyClick(&boxes.port, Qt::Key_Home);
    QTest::keyClick(&boxes.port, Qt::Key_Minus);
    EXPECT_EQ(boxes.port.text(), QStringLiteral("-354"));

    QTest::keyClick(&boxes.port, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(boxes.port.selectedText(), QStringLiteral("-354")) << "select-all";
    QTest::keyClick(&boxes.port, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(boxes.port.text(), QStringLiteral("354")) << "undo";

    // Copy and cut take nothing out of the box.
    QApplication::clipboard()->setText(QStringLiteral("unchanged"));
    boxes.port.selectAll();
    QTest::keyClick(&boxes.port, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&boxes.port, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("unchanged"));
    EXPECT_EQ(boxes.port.text(), QStringLiteral("354"));
}
