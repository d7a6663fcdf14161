#include "mWanAddress.h"
#include "cTools.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string Answer(const std::string &status, const std::string &body, const std::string &headers = {})
{
    return "HTTP/1.1 " + status + "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

// A socket bound to a free port of 127.0.0.1; listening only when asked.
int BoundSocket(bool bListen)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    if (bListen)
        listen(fd, 8);
    return fd;
}

int PortOf(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

// A small HTTP server on its own thread, since the fetch blocks the test's
// thread. Each path has a canned answer; any other path is never answered.
class LocalHttpServer
{
public:
    explicit LocalHttpServer(std::map<std::string, std::string> answers)
        : m_answers(std::move(answers)), m_fd(BoundSocket(true)), m_thread([this] { Serve(); })
    {
    }
    ~LocalHttpServer()
    {
        shutdown(m_fd, SHUT_RDWR); // wakes the pending accept
        m_thread.join();
        close(m_fd);
    }

    QString Url(const char *path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(PortOf(m_fd)).arg(QLatin1String(path));
    }
    std::string LastRequest()
    {
        const std::lock_guard lock(m_mutex);
        return m_lastRequest;
    }

private:
    void Serve()
    {
        for (int client; (client = accept(m_fd, nullptr, nullptr)) >= 0; close(client))
            Handle(client);
    }

    void Handle(int client)
    {
        std::string request;
        char buffer[4096];
        ssize_t count = 0;
        while (request.find("\r\n\r\n") == std::string::npos && (count = recv(client, buffer, sizeof buffer, 0)) > 0)
            request.append(buffer, static_cast<std::size_t>(count));
        {
            const std::lock_guard lock(m_mutex);
            m_lastRequest = request;
        }
        const std::size_t start = request.find(' ') + 1;
        const auto answer = m_answers.find(request.substr(start, request.find(' ', start) - start));
        if (answer == m_answers.end()) {
            while (recv(client, buffer, sizeof buffer, 0) > 0) {
            }
            return;
        }
        send(client, answer->second.data(), answer->second.size(), MSG_NOSIGNAL);
    }

    std::map<std::string, std::string> m_answers;
    int m_fd;
    std::mutex m_mutex;
    std::string m_lastRequest;
    std::thread m_thread;
};

const std::string kLongBody(1000, 'a');

// What anyone on the way can answer over plain HTTP: markup that costs a text
// layout dearly.
std::string NestedTables(int depth)
{
    std::string html;
    for (int i = 0; i < depth; ++i)
        html += "<table><tr><td>";
    return html + "203.0.113.5";
}

LocalHttpServer &Server()
{
    static LocalHttpServer server({
        {"/ip", Answer("200 OK", "203.0.113.5\r\n")},
        {"/missing", Answer("404 Not Found", "no such page")},
        {"/long", Answer("200 OK", kLongBody, "Content-Length: 1000\r\n")},
        {"/moved", Answer("302 Found", "", "Location: /ip\r\n")},
        {"/huge", Answer("200 OK", std::string(1024 * 1024 + 1, 'b'))},
        {"/latin1", Answer("200 OK", "caf\xe9")},
        {"/ipv6", Answer("200 OK", " 2001:db8::5\n")},
        {"/tables", Answer("200 OK", NestedTables(30))},
        {"/marked", Answer("200 OK", "<b>203.0.113.5</b>")},
        {"/short", Answer("200 OK", "203.1")},
        {"/trailing", Answer("200 OK", "203.0.113.5 and more")},
    });
    return server;
}

} // namespace

TEST(GetUrlSource, WholeBodyWhateverTheStatus)
{
    EXPECT_EQ(Tools().GetUrlSource(Server().Url("/ip")), QStringLiteral("203.0.113.5\r\n"));
    const std::string request = Server().LastRequest();
    EXPECT_NE(request.find("User-Agent: vb wininet\r\n"), std::string::npos) << request;
    EXPECT_EQ(Tools().GetUrlSource(Server().Url("/missing")), QStringLiteral("no such page"));
    EXPECT_EQ(Tools().GetUrlSource(Server().Url("/long")), QString::fromStdString(kLongBody));
    EXPECT_EQ(Tools().GetUrlSource(Server().Url("/moved")), QStringLiteral("203.0.113.5\r\n"));
    EXPECT_EQ(Tools().GetUrlSource(Server().Url("/latin1")), QStringLiteral("caf\u00e9"));
}

TEST(GetUrlSource, FailuresGiveEmptyText)
{
    const int closedPort = BoundSocket(false);
    EXPECT_EQ(Tools().GetUrlSource(QStringLiteral("http://127.0.0.1:%1/").arg(PortOf(closedPort))), QString());
    close(closedPort);
    EXPECT_EQ(Tools().GetUrlSource(Server().Url("/silent"), 1000), QString());
    EXPECT_EQ(Tools().GetUrlSource(Server().Url("/huge")), QString());
    EXPECT_EQ(Tools().GetUrlSource(QStringLiteral("file:///proc/self/status")), QString());
    EXPECT_EQ(Tools().GetUrlSource(QString()), QString());
}

TEST(RenewWANAddress, LinkForThePortText)
{
    const auto fetch = [](const QString &sURL) { return Tools().GetUrlSource(sURL); };
    const QString service = Server().Url("/ip");
    const QString address = QStringLiteral("http://203.0.113.5");

    WanLink link = RenewWANAddress(service, QStringLiteral("80"), QString(), fetch);
    EXPECT_EQ(link.sTag, address);
    EXPECT_EQ(link.sCaption, address);
    link = RenewWANAddress(service, QStringLiteral("8080"), QString(), fetch);
    EXPECT_EQ(link.sTag, address);
    EXPECT_EQ(link.sCaption, address + QStringLiteral(":8080"));
    EXPECT_EQ(RenewWANAddress(service, QStringLiteral("080"), QString(), fetch).sCaption, address);
    EXPECT_EQ(RenewWANAddress(service, QStringLiteral("web"), QString(), fetch).sCaption,
              address + QStringLiteral(":web"));

    // Seven characters or fewer: no lookup, the previous address with the new port.
    int lookups = 0;
    const auto counted = [&lookups](const QString &) { ++lookups; return QStringLiteral("198.51.100.1"); };
    link = RenewWANAddress(QStringLiteral("http://"), QStringLiteral("8081"), address, counted);
    EXPECT_EQ(lookups, 0);
    EXPECT_EQ(link.sTag, address);
    EXPECT_EQ(link.sCaption, address + QStringLiteral(":8081"));

    // A failed lookup leaves only the scheme.
    const auto failing = [](const QString &) { return QString(); };
    EXPECT_EQ(RenewWANAddress(service, QStringLiteral("80"), address, failing).sCaption, QStringLiteral("http://"));
    EXPECT_EQ(RenewWANAddress(service, QStringLiteral("8080"), address, failing).sCaption,
              QStringLiteral("http://:8080"));
}

TEST(RenewWANAddress, OnlyAnAddressIsTakenFromTheAnswer)
{
    const auto fetch = [](const QString &sURL) { return Tools().GetUrlSource(sURL); };
    const WanLink v6 = RenewWANAddress(Server().Url("/ipv6"), QStringLiteral("8080"), QString(), fetch);
    EXPECT_EQ(v6.sTag, QStringLiteral("http://[2001:db8::5]"));
    EXPECT_EQ(v6.sCaption, QStringLiteral("http://[2001:db8::5]:8080"));
    for (const char *path : {"/tables", "/marked", "/short", "/trailing", "/missing", "/long", "/latin1"}) {
        const WanLink link = RenewWANAddress(Server().Url(path), QStringLiteral("80"), QStringLiteral("http://x"), fetch);
        EXPECT_EQ(link.sTag, QStringLiteral("http://")) << path << ": as for no answer";
    }
}

TEST(RenewWANAddress, PreviewComparesThePortAsText)
{
    EXPECT_EQ(PreviewUrl(QStringLiteral("80")), QStringLiteral("http://127.0.0.1"));
    EXPECT_EQ(PreviewUrl(QStringLiteral("080")), QStringLiteral("http://127.0.0.1:080"));
    EXPECT_EQ(PreviewUrl(QStringLiteral("8080")), QStringLiteral("http://127.0.0.1:8080"));
    EXPECT_EQ(PreviewUrl(QStringLiteral("8080"), QStringLiteral("192.0.2.5")), QStringLiteral("http://192.0.2.5:8080"));
    EXPECT_EQ(PreviewUrl(QStringLiteral("80"), QStringLiteral("::1")), QStringLiteral("http://[::1]"));
}
