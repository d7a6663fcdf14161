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
        TooLarge,   // no end within kMaxRequestHead bytes
        Bad,        // not a request
        WrongVersion, // a well-formed request of another major version than HTTP/1
    };
    Status status = Status::Incomplete;
    QByteArray method;
    // The path asked for, without query or fragment; the path of an absolute
    // target ("http://host:port/path") as a proxy sends it.
    QByteArray path;
    std::optional<std::time_t> ifModifiedSince;
};

// Reads the head of a request from the bytes arrived so far; peerDone: the
// peer has ended its sending, so what has come is all there is (a request
// line whose header fields stop without a blank line still counts).
HttpRequest ReadRequestHead(const QByteArray &head, bool peerDone);
