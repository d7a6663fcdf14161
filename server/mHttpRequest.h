#pragma once

#include <QByteArray>
#include <ctime>
#include <optional>

// The most a request's head may take, its blank line included.
constexpr qsizetype kMaxRequestHead = 8192;

// A request's head as far as it has arrived.
struct HttpRequest
{
    enum class Status {
        Incomplete, // its end has not arrived yet
        Complete,   // a request line with a version, and its header fields
        Simple,     // "GET /path" without a version: an HTTP/0.9 request, no header fields
        TooLarge,   // the header fields do not end within kMaxRequestHead bytes
        TargetTooLong, // the request line does not end within kMaxRequestHead bytes
        Bad,        // not a request
        WrongVersion, // a well-formed request of another major version than HTTP/1
    };
    Status status = Status::Incomplete;
    QByteArray method;
    // The path asked for, percent-decoded, without query or fragment; the
    // path of an absolute target ("http://host:port/path") as a proxy sends it.
    QByteArray path;
    // What follows the path's "?", up to a fragment; empty when there is none.
    QByteArray query;
    std::optional<std::time_t> ifModifiedSince;
    // The If-None-Match fields' values, joined by commas.
    std::optional<QByteArray> ifNoneMatch;
    // The Origin field of a page's request from another site.
    std::optional<QByteArray> origin;
};


// A method HTTP defines (the server answers GET and HEAD; the others get 405,
// a method it does not know 501).
bool IsKnownMethod(const QByteArray &method);

// Whether the client holds the current picture already (304): by its entity
// tag when it names any (weak comparison, "*" for any picture); else by its
// time, which has whole seconds only, so the same second counts only when no
// other picture was published in it (soleInItsSecond).
bool ClientHoldsPicture(const HttpRequest &request, const QByteArray &etag, std::time_t modified,
                        bool soleInItsSecond);

// Reads the head of a request from the bytes arrived so far; peerDone: the
// peer has ended its sending, so what has come is all there is (a request
// line whose header fields stop without a blank line still counts).
HttpRequest ReadRequestHead(const QByteArray &head, bool peerDone);

// How far a head arriving in pieces has been looked at, so that each byte is
// looked at once however small the pieces.
struct HttpHeadScan
{
    qsizetype scanned = 0;
    qsizetype lineLength = 0; // bytes of the line under way, its CR left out
    int leadingBlanks = 0;    // blank lines before the request line
    bool requestLineBegun = false;
    bool requestLineEnded = false;
    bool inMethod = true; // the request line's first word is under way
    bool afterReturn = false;
};

// Whether the head can be read now (ReadRequestHead): its request line or its
// blank line has come, the peer is done, it is over the limit, or what has come
// is no request (a bare CR, a second blank line before the request line, a
// first word that is no method). Looks only at what came since the last call.
bool HeadToRead(const QByteArray &head, bool peerDone, HttpHeadScan &scan);
