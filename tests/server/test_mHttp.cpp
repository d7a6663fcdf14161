// HTTP dates and request heads as clients send them.
#include "mHttpDate.h"
#include "mHttpRequest.h"
#include "mTarget.h"

#include <gtest/gtest.h>

#include <QList>

#include <clocale>

TEST(HttpDate, WrittenInEveryLocaleAndReadInAllThreeForms)
{
    // Month and day names never follow the user's language.
    ASSERT_NE(std::setlocale(LC_ALL, "sv_SE.UTF-8"), nullptr) << "scripts/setup installs the Swedish locale";
    EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(HttpDate(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
    std::setlocale(LC_ALL, "C");

    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
    EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), 784111777);
    EXPECT_EQ(ParseHttpDate("  Sun, 06 Nov 1994 08:49:37 GMT "), 784111777);
    EXPECT_EQ(ParseHttpDate("Thu, 01-Jan-30 00:00:00 GMT"), std::time_t(1893456000));

    // Every date written reads back, across leap years and past 2038.
    for (std::time_t when = 0; when < std::time_t(4102444800); when += 86400 * 37 + 3607)
        ASSERT_EQ(ParseHttpDate(HttpDate(when)), when) << HttpDate(when).toStdString();

    for (const char *wrong : {"", "yesterday", "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Nov 1994 08:49:37 CET",
                              "Sun, 31 Nov 1994 08:49:37 GMT", "Mon, 29 Feb 1900 00:00:00 GMT",
                              "Sun, 06 Nov 1994 24:00:00 GMT", "Sun, 06 Nov 1994 8:49:37 GMT",
                              "Sun, 06 nov 1994 08:49:37 GMT", "Sun, 06 Nov 1969 08:49:37 GMT",
                              "Sun, 06 Nov 19a4 08:49:37 GMT", "Sun, 6 Nov 1994 08:49 GMT",
                              "Sun, 99999999999 Nov 1994 08:49:37 GMT"})
        EXPECT_FALSE(ParseHttpDate(wrong)) << wrong;
}

TEST(HttpRequest, HeadsAreReadAsTheyArrive)
{
    using Status = HttpRequest::Status;
    const HttpRequest full = ReadRequestHead("GET /cam.jpg?1234 HTTP/1.1\r\nHost: x\r\nif-modified-since: "
                                             "Sun, 06 Nov 1994 08:49:37 GMT\r\nX: y\r\n\r\n",
                                             false);
    EXPECT_EQ(full.status, Status::Complete);
    EXPECT_EQ(full.method, "GET");
    EXPECT_EQ(full.path, "/cam.jpg");
    EXPECT_EQ(full.ifModifiedSince, 784111777);

    // A proxy's absolute target.
    EXPECT_EQ(ReadRequestHead("HEAD http://cam.example:8080/stream?x HTTP/1.0\r\n\r\n", false).path, "/stream");
    EXPECT_EQ(ReadRequestHead("GET http://cam.example HTTP/1.0\r\n\r\n", false).path, "/");

    // What a target asks for: a slash in the query is no path; escapes are decoded.
    const QList<std::pair<QByteArray, Asked>> targets = {
        {"GET http://h?x=/stream HTTP/1.0", Asked::Picture},
        {"GET http://h#/stream HTTP/1.0", Asked::Picture},
        {"GET /%73tream HTTP/1.0", Asked::Stream},
        {"GET http://h:1/%75ptime HTTP/1.0", Asked::StatusPage},
        {"GET /stream%3Fx HTTP/1.0", Asked::Picture},
    };
    for (const auto &[line, asked] : targets) {
        const HttpRequest request = ReadRequestHead(line + "\r\n\r\n", false);
        EXPECT_EQ(WhatTargetAsks(request.path, request.query), asked) << line.toStdString();
    }

    const QList<std::pair<QByteArray, Status>> cases = {
        {"", Status::Incomplete},
        {"GE", Status::Incomplete},
        {"GET / HTTP/1.1\r\n", Status::Incomplete},
        {"GET / HTTP/1.1\r\nHost: x\r\n", Status::Incomplete},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", Status::Complete},
        {"GET /\r\n", Status::Simple},
        {"HEAD /\r\n", Status::Bad},
        {"BREW / HTTP/1.1\r\nHost: x\r\n\r\n", Status::Complete},
        {"GET / HTTP/3.0\r\n\r\n", Status::WrongVersion},
        {"GET / HTTP/1.10\r\n\r\n", Status::Bad},
        {"GET / http/1.1\r\n\r\n", Status::Bad},
        {"GET  / HTTP/1.1\r\nHost: x\r\n\r\n", Status::Bad},
        {"GET * HTTP/1.1\r\nHost: x\r\n\r\n", Status::Bad},
        {"GET ftp://x/ HTTP/1.1\r\nHost: x\r\n\r\n", Status::Bad},
        {"G\x01T / HTTP/1.1", Status::Bad},
        {QByteArray("\x16\x03\x01", 3), Status::Bad},
        {"GET /" + QByteArray(kMaxRequestHead, 'a'), Status::TargetTooLong},
        {"GET /" + QByteArray(kMaxRequestHead, 'a') + " HTTP/1.1\r\n\r\n", Status::TargetTooLong},
        {QByteArray("GET / HTTP/1.1\r\nHost: x\r\nX: a\0b\r\n\r\n", 35), Status::Bad},
        {"GET /%zz HTTP/1.0\r\n\r\n", Status::Bad},
        {"GET /a%00 HTTP/1.0\r\n\r\n", Status::Bad},
        {"GET / HTTP/1.1\r\nA: " + QByteArray(kMaxRequestHead, 'a') + "\r\n\r\n", Status::TooLarge},
        // What a server must refuse: HTTP/1.1 without a Host or with two, a
        // space before a field's colon, a folded line, a line without a
        // colon, a bare CR, more than one blank line before the request.
        {"GET / HTTP/1.1\r\n\r\n", Status::Bad},
        {"GET / HTTP/1.0\r\n\r\n", Status::Complete},
        {"GET / HTTP/1.1\r\nHost: x\r\nhost: y\r\n\r\n", Status::Bad},
        {"GET / HTTP/1.1\r\nHost : x\r\n\r\n", Status::Bad},
        {"GET / HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n", Status::Bad},
        {"GET / HTTP/1.1\r\nHost: x\r\nnocolon\r\n\r\n", Status::Bad},
        {"GET / HTTP/1.1\rHost: x\r\r", Status::Bad},
        {"\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\n", Status::Complete},
        {"\r\n\r\n", Status::Bad},
        // Well formed, for methods the server serves not: 405 follows.
        {"OPTIONS * HTTP/1.1\r\nHost: x\r\n\r\n", Status::Complete},
        {"CONNECT cam.example:443 HTTP/1.1\r\nHost: cam.example:443\r\n\r\n", Status::Complete},
    };
    for (const auto &[head, status] : cases)
        EXPECT_EQ(ReadRequestHead(head, false).status, status) << head.left(60).toStdString();

    // The peer's end: a request line with fields cut short is still a request.
    EXPECT_EQ(ReadRequestHead("GET / HTTP/1.1\r\nHost: x\r\n", true).status, Status::Complete);
    EXPECT_EQ(ReadRequestHead("GET / HTT", true).status, Status::Bad);
}

// A head in one-byte pieces is read whole only when it can be answered: at
// its request line and at its blank line, never again at each piece; what is
// no request is told at its first wrong byte.
TEST(HttpRequest, AHeadInTinyPiecesIsReadWholeOnlyWhenItCanBeAnswered)
{
    QByteArray head = "GET /picture HTTP/1.1\r\nHost: cam\r\n";
    for (int i = 0; i < 200; ++i)
        head += "X-Field-" + QByteArray::number(i) + ": value\r\n";
    head += "\r\n";
    HttpHeadScan scan;
    QByteArray arrived;
    QList<qsizetype> readAt;
    for (const char c : head) {
        arrived += c;
        if (HeadToRead(arrived, false, scan))
            readAt << arrived.size();
    }
    ASSERT_EQ(readAt.size(), 2);
    EXPECT_EQ(readAt[0], head.indexOf('\n') + 1);
    EXPECT_EQ(readAt[1], head.size());
    EXPECT_EQ(ReadRequestHead(arrived, false).status, HttpRequest::Status::Complete);

    for (const QByteArray &bad : {QByteArray("GE\x01"), QByteArray("GET /\rX"), QByteArray("\r\n\r\n")}) {
        HttpHeadScan fresh;
        QByteArray sofar;
        bool told = false;
        for (const char c : bad) {
            sofar += c;
            told = HeadToRead(sofar, false, fresh);
        }
        EXPECT_TRUE(told) << bad.toStdString();
        EXPECT_EQ(ReadRequestHead(sofar, false).status, HttpRequest::Status::Bad) << bad.toStdString();
    }
}
