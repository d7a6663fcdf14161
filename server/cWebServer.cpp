#include "cWebServer.h"

#include "mCrossOrigin.h"
#include "mHttpAnswer.h"
#include "mMetrics.h"
#include "mStatusJson.h"
#include "mNumbers.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>

#include <sys/resource.h>

namespace {

const QByteArray kGet = QByteArrayLiteral("GET");
const QByteArray kUptimeRequest = QByteArrayLiteral("get /uptime");
// A request is decided on its first line, or on this many bytes when the line is longer.
constexpr qsizetype kDecidingBytes = 11;
// Newcomers waiting for a silent connection to give its slot up: how many,
// how long at most, and how often their places are looked for.
constexpr size_t kMaxWaiting = 1024;
constexpr qint64 kMaxWaitMilliseconds = 1000;
constexpr auto kWaitingLook = std::chrono::milliseconds(10);
// A request not yet whole is looked at again at most this often.
constexpr qint64 kPeekPause = 50;
// The window wakes for the server's news at most this often, however many
// connections come; far below what the eye or the capture timer notices.
constexpr auto kNewsPause = std::chrono::milliseconds(20);
constexpr auto kSweepPeriod = std::chrono::seconds(1);

// The connection limit as a 16-bit number; a text that is none (empty, a
// sign alone, letters) allows slot 0 only, and so does a negative one.
int MaxConnections(const QString &sText)
{
    bool ok = false;
    const int limit = WholeNumberValue(sText, &ok);
    return ok ? std::clamp(limit, 0, int(std::numeric_limits<qint16>::max())) : 0;
}

// How long a proxy or browser may keep a picture: the capture interval in
// whole seconds, at least one (a text that is no interval, or 0, captures
// every second), at most a year.
int MaxAge(const QString &sInterval)
{
    bool ok = false;
    const double seconds = NumericValue(sInterval, &ok);
    return ok && seconds >= 1 ? int(std::min(std::floor(seconds), 31536000.0)) : 1;
}

// The capture interval in milliseconds, as the capture timer takes it: a
// text that is no interval, or 0, captures every second.
qint64 IntervalMilliseconds(const QString &sInterval)
{
    bool ok = false;
    const double seconds = NumericValue(sInterval, &ok);
    return ok && seconds > 0 ? qint64(std::min(seconds, 31536000.0) * 1000) : 1000;
}

// A part of an answer that more parts follow.
AnswerPiece Leading(const QByteArray &bytes)
{
    return AnswerPiece{cAnswerBody::InMemory(bytes), 0, bytes.size(), false};
}

// Whether the start of a request can still turn out to be "GET".
bool CanBeGet(const QByteArray &head)
{
    return kGet.startsWith(head.left(kGet.size()));
}

// Behind a password, what may be kept by proxies and browsers is theirs alone.
QByteArray Keyed(const auto &settings, const QByteArray &head)
{
    return settings.password.isEmpty() ? head : cViewerKey::PrivateHead(head);
}

// The answer to a request that is none the server can serve.
int RefusalStatus(HttpRequest::Status status)
{
    using Status = HttpRequest::Status;
    switch (status) {
    case Status::TooLarge: return 431;
    case Status::TargetTooLong: return 414;
    case Status::WrongVersion: return 505;
    default: return 400;
    }
}

// A head as the request's page may read it: behind a password for its viewer
// alone, and open to the other sites allowed.
QByteArray Shaped(const auto &settings, const HttpRequest &request, const QByteArray &head)
{
    return WithFields(Keyed(settings, head), CrossOriginFields(settings.allowedOrigins, request.origin));
}

// The words of the page to watch where the window gives none.
LiveWords EnglishLiveWords()
{
    return {QStringLiteral("Camera live"), QStringLiteral("No picture from the camera since %1"),
            QStringLiteral("Server uptime"), QStringLiteral("No answer from the server; trying again")};
}

bool Decided(const QByteArray &head, qsizetype deciding)
{
    return head.size() >= deciding || head.contains('\n') || !CanBeGet(head);
}

} // namespace

ServerWindow PictureOnlyWindow(const QString &sPort, const QString &sPicturePath, const QString &sMaxCon)
{
    ServerWindow window;
    window.txtMaxCon = [sMaxCon] { return sMaxCon; };
    window.txtPort = [sPort] { return sPort; };
    window.chkUptime = [] { return true; };
    window.picturePath = [sPicturePath] { return sPicturePath; };
    window.retUptimePage = [] { return QString(); };
    window.logConnection = [](bool, const QString &) {};
    window.pictureRequested = [] {};
    return window;
}

void RaiseDescriptorLimit()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

cWebServer::cWebServer(ServerWindow window, QObject *parent)
    : QObject(parent), m_window(std::move(window)), objWS2(m_io.Context()), objWS1(m_io.Context()),
      m_waitingTimer(m_io.Context()), m_sweepTimer(m_io.Context()), m_newsPause(m_io.Context())
{
    if (QCoreApplication::instance())
        m_sProgramDir = QCoreApplication::applicationDirPath().toStdString();
    objWS2.ConnectionRequest = [this](int requestId) { objWS2_ConnectionRequest(requestId); };
    objWS1.DataArrival = [this](int i) { objWS1_DataArrival(i); };
    objWS1.SendComplete = [this](int i) { objWS1_SendComplete(i); };
    Refresh();
}

cWebServer::~cWebServer()
{
    m_io.Stop();
}

void cWebServer::Refresh()
{
    Settings settings;
    settings.maxcon = MaxConnections(m_window.txtMaxCon());
    settings.uptime = m_window.chkUptime();
    settings.headers = m_window.chkHeaders && m_window.chkHeaders();
    const QString interval = m_window.txtIntvl ? m_window.txtIntvl() : QStringLiteral("3");
    settings.maxAge = MaxAge(interval);
    settings.intervalMs = IntervalMilliseconds(interval);
    settings.freshPicture = m_window.freshPicture && m_window.freshPicture() && m_window.freshPictureWanted;
    settings.sPicturePath = m_window.picturePath();
    settings.password = m_window.txtPassword ? m_window.txtPassword().toUtf8() : QByteArray();
    settings.statusPage = m_window.retUptimePage().toLatin1();
    if (m_window.allowOrigin)
        settings.allowedOrigins = AllowedOrigins(m_window.allowOrigin());
    Shown shown;
    if (m_window.faceFacts)
        shown.face = m_window.faceFacts();
    shown.words = m_window.liveWords ? m_window.liveWords() : EnglishLiveWords();
    std::lock_guard lock(m_settingsMutex);
    m_settings = std::move(settings);
    m_shown = std::move(shown);
}

cWebServer::Shown cWebServer::CurrentShown() const
{
    std::lock_guard lock(m_settingsMutex);
    return m_shown;
}

cWebServer::Settings cWebServer::Current() const
{
    std::lock_guard lock(m_settingsMutex);
    return m_settings;
}

void cWebServer::NotifyLog(Told told, const QString &sText)
{
    // A crowd arriving while the window's thread is busy (a slow camera) never
    // piles up more than this many lines for it.
    constexpr std::size_t kMaxNewsLines = 10000;
    std::lock_guard lock(m_newsMutex);
    if (m_news.log.size() >= kMaxNewsLines)
        m_news.log.pop_front();
    m_news.log.push_back({told, sText});
    QueueNews();
}

void cWebServer::NotifyRequest()
{
    std::lock_guard lock(m_newsMutex);
    m_news.bRequest = true;
    QueueNews();
}

void cWebServer::NotifyFreshWanted()
{
    std::lock_guard lock(m_newsMutex);
    m_news.bFreshWanted = true;
    QueueNews();
}

// On the I/O thread: one queued event per pause, so a crowd costs the window
// a few wake-ups a second.
void cWebServer::QueueNews()
{
    if (std::exchange(m_news.bQueued, true))
        return;
    m_newsPause.expires_after(kNewsPause);
    m_newsPause.async_wait([this](const asio::error_code &error) {
        if (!error)
            QMetaObject::invokeMethod(this, &cWebServer::DeliverNews, Qt::QueuedConnection);
    });
}

void cWebServer::DeliverNews()
{
    News news;
    {
        std::lock_guard lock(m_newsMutex);
        news = std::exchange(m_news, News());
    }
    for (const auto &[told, sText] : news.log) {
        if (told == Told::Accepted || told == Told::Banned)
            m_window.logConnection(told == Told::Accepted, sText);
        else if (told == Told::OverLimit && m_window.logOverLimit)
            m_window.logOverLimit(sText);
        else if (told == Told::Line && m_window.logLine)
            m_window.logLine(sText);
    }
    // The capture asked for now takes the place of the one the timer would
    // take an interval later.
    if (news.bFreshWanted)
        m_window.freshPictureWanted();
    else if (news.bRequest)
        m_window.pictureRequested();
}

bool cWebServer::StartServer(const QString &sBanText)
{
    Refresh();
    setBanList(sBanText);
    LoadSlots();
    m_io.Run([this] { objWS2.Close(); });
    return Listen(true);
}

bool cWebServer::OpenListener()
{
    return Listen(false);
}

bool cWebServer::Listen(bool bStart)
{
    bool ok = false;
    const int port = WholeNumberValue(m_window.txtPort(), &ok);
    const QString sListen = m_window.listenAddress ? m_window.listenAddress() : QString();
    QString sError;
    const bool listening = m_io.Run([&] {
        const bool bListening = ListenOnIoThread(ok ? port : -1, sListen, sError);
        // Serving begins in the same step as listening: a connection the
        // listener takes at once, such as the one that made systemd start
        // the program, must not find the server stopped.
        if (bStart) {
            m_bServing = bListening;
            m_startedMs = ServerMilliseconds();
            if (bListening)
                SweepEverySecond();
        }
        return bListening;
    });
    m_sListenError = sError;
    return listening;
}

bool cWebServer::ListenOnIoThread(int port, const QString &sListen, QString &sError)
{
    if (const int handed = std::exchange(m_handedSocket, -1); handed >= 0) {
        m_bHandedListening = objWS2.Adopt(handed);
        sError = objWS2.ErrorString();
        return m_bHandedListening;
    }
    // A socket handed over is the service's port, whatever the settings
    // say; port 0, any port, is the one listened on already.
    if (objWS2.State() == sckListening &&
        (m_bHandedListening || (port >= 0 && (port == 0 || port == objWS2.LocalPort()) && sListen == m_sListenAddress)))
        return true;
    objWS2.setLocalPort(port);
    if (!objWS2.Listen(m_sProgramDir, sListen)) {
        sError = objWS2.ErrorString();
        return false;
    }
    m_bHandedListening = false;
    m_sListenAddress = sListen;
    return true;
}

void cWebServer::setBanList(const QString &sBanText)
{
    m_io.Run([this, banList = FillBanList(sBanText)]() mutable { m_cBanList = std::move(banList); });
}

void cWebServer::LoadSlots()
{
    const int maxcon = Current().maxcon;
    m_io.Run([this, maxcon] {
        for (int i = 1; i <= maxcon; ++i)
            objWS1.Load(i);
    });
}

void cWebServer::StopServer()
{
    // Answers under way are finished; live streams have no end of their own.
    m_io.Run([this] {
        m_bServing = false;
        m_bStreamWatched = false;
        m_sweepTimer.cancel();
        objWS2.Close();
        for (int i = 0; i <= objWS1.UBound(); ++i)
            if (cWinsockSlot *slot = objWS1.Item(i); slot && slot->Streaming)
                Drop(*slot);
    });
}

int cWebServer::ListeningPort()
{
    return m_io.Run([this] { return objWS2.LocalPort(); });
}

void cWebServer::PublishPicture(cPictureSource::Picture picture, bool bFromCamera)
{
    m_picture.Publish(std::move(picture), bFromCamera);
    asio::post(m_io.Context(), [this, bFromCamera] {
        m_freshAskedAt = -1;
        AnswerWaiters(false);
        if (!bFromCamera)
            FeedStreams(m_picture.Current(Current().sPicturePath));
    });
}

void cWebServer::PublishStreamPicture(const cPictureSource::Picture &picture)
{
    // The sealed copy is made here, off the I/O thread.
    asio::post(m_io.Context(), [this, body = cAnswerBody::InFile(picture ? *picture : QByteArray())] {
        FeedStreams(body);
    });
}

void cWebServer::UnloadSlots()
{
    // Every slot, also those above a limit lowered while serving.
    m_io.Run([this] {
        for (int i = objWS1.UBound(); i >= 1; --i)
            objWS1.Unload(i);
    });
}

int cWebServer::SlotState(int lIndex)
{
    return m_io.Run([this, lIndex] { return objWS1.Item(lIndex) ? objWS1.Item(lIndex)->State() : sckClosed; });
}

qint64 cWebServer::SlotBytesToWrite(int lIndex)
{
    return m_io.Run([this, lIndex] { return objWS1.Item(lIndex) ? objWS1.Item(lIndex)->BytesToWrite() : 0; });
}

void cWebServer::tmtTimeout_Timer()
{
    Refresh();
    m_io.Run([this] { Sweep(); });
}

void cWebServer::objWS2_ConnectionRequest(int requestId)
{
    // A peer that will be refused never costs anyone a slot.
    const QString peer = objWS2.PendingPeerAddress(requestId);
    if (IsBanned(*m_cBanList, peer)) {
        ++m_counts.banned;
        objWS2.Refuse(requestId);
        NotifyLog(Told::Banned, peer);
        return;
    }
    if (m_key.Locked(peer)) {
        ++m_counts.keyRefused;
        objWS2.Refuse(requestId);
        return;
    }
    const Settings settings = Current();
    if (cWinsockSlot *slot = objWS1.LowestFree(settings.maxcon)) {
        Place(*slot, requestId);
        return;
    }
    const qint64 now = ServerMilliseconds();
    Waiting waiting{requestId, now};
    if (!LookAt(waiting, now, settings.headers))
        return;
    if (cWinsockSlot *slot = TakeSlot(settings.maxcon, Newcomer{peer, waiting.asks})) {
        Place(*slot, requestId);
        return;
    }
    // Every slot is taken: the newcomer waits for one to be given up.
    objWS2.Hold(requestId);
    waiting.inReserve = InDescriptorReserve(requestId);
    m_waiting.push_back(waiting);
    // With the queue full, or the newcomer holding a descriptor kept for
    // the slots and files, the listener pauses: those after it wait in the
    // system's queue, in order, costing no descriptor, instead of being
    // turned away. The connection lingering longest makes room meanwhile.
    if (waiting.inReserve)
        objWS1.Lingering().CloseOldest();
    if (waiting.inReserve || m_waiting.size() >= kMaxWaiting)
        objWS2.Pause();
    if (m_waiting.size() == 1)
        PlaceWaiting();
}

SlotView cWebServer::ViewOf(const cWinsockSlot &slot) const
{
    using State = ConnectionState;
    const State state = slot.Tag.isEmpty() ? State::ReadingHead : slot.Streaming ? State::Streaming : State::Answering;
    const qint64 idle = slot.MillisecondsSinceProgress();
    // What the peer has not taken is asked of the kernel only where a limit
    // could make use of it.
    const bool untaken = state != State::ReadingHead && idle >= std::min(GiveWayMilliseconds, m_stallMilliseconds) &&
                         slot.BytesNotTaken() > 0;
    return SlotView{state, slot.RemoteHostIP(), slot.MillisecondsConnected(), idle, untaken,
                    slot.Http && !slot.Head.isEmpty()};
}

// The lowest free slot from 0 to maxcon; else the one that gives way to the
// newcomer, closed for it.
cWinsockSlot *cWebServer::TakeSlot(int maxcon, const Newcomer &newcomer)
{
    if (cWinsockSlot *slot = objWS1.LowestFree(maxcon))
        return slot;
    std::vector<SlotView> views;
    std::vector<cWinsockSlot *> taken;
    for (int i = 0; i <= maxcon; ++i)
        if (cWinsockSlot *slot = objWS1.Item(i); slot && slot->State() != sckClosed) {
            views.push_back(ViewOf(*slot));
            taken.push_back(slot);
        }
    const int chosen = WhoGivesWay(views, newcomer);
    if (chosen < 0)
        return nullptr;
    Drop(*taken[size_t(chosen)]);
    return taken[size_t(chosen)];
}

void cWebServer::Place(cWinsockSlot &slot, int requestId)
{
    slot.Close();
    slot.Tag.clear();
    if (slot.Accept(objWS2, requestId)) {
        ++m_counts.accepted;
        NotifyLog(Told::Accepted, slot.RemoteHostIP());
    }
}

// What a newcomer asks for, looked at again only while its request is not
// whole, and then at most once a look of the queue; false when its peer has
// gone (reset, or closed without asking), and it is closed.
bool cWebServer::LookAt(Waiting &waiting, qint64 now, bool http)
{
    if (waiting.asks != Asks::Unknown || (waiting.looked > 0 && now - waiting.looked < kPeekPause))
        return true;
    waiting.looked = now;
    const std::optional<QByteArray> arrived = objWS2.PendingArrived(waiting.requestId);
    if (!arrived) {
        objWS2.Refuse(waiting.requestId);
        return false;
    }
    waiting.asks = AsksOf(*arrived, http);
    return true;
}

// Waiters leave in order of arrival once they have waited too long, closed
// as a refused one is; the others' requests are looked at again.
void cWebServer::LookAtWaiters(qint64 now, bool http)
{
    const bool listening = objWS2.State() != sckClosed;
    while (!m_waiting.empty() && (now - m_waiting.front().since > kMaxWaitMilliseconds || !listening)) {
        const int requestId = m_waiting.front().requestId;
        const QString peer = objWS2.PendingPeerAddress(requestId);
        m_waiting.pop_front();
        if (!objWS2.IsPending(requestId))
            continue;
        objWS2.Refuse(requestId);
        if (listening) {
            ++m_counts.overLimit;
            NotifyLog(Told::OverLimit, peer);
        }
    }
    std::erase_if(m_waiting, [&](Waiting &waiting) {
        return !objWS2.IsPending(waiting.requestId) || !LookAt(waiting, now, http);
    });
}

// The waiter served next: a whole request for a short answer before one for
// a stream, both before one not yet whole; among those, one from an address
// holding fewer slots first; then the first come.
std::deque<cWebServer::Waiting>::iterator cWebServer::NextWaiter(std::map<QString, int> &held)
{
    auto rank = [&](const Waiting &waiting) {
        return std::pair(int(waiting.asks), held[objWS2.PendingPeerAddress(waiting.requestId)]);
    };
    return std::min_element(m_waiting.begin(), m_waiting.end(),
                            [&](const Waiting &a, const Waiting &b) { return rank(a) < rank(b); });
}

void cWebServer::PlaceWaiting()
{
    const Settings settings = Current();
    const int maxcon = settings.maxcon;
    // Looked at once a look of the queue, not at every answer sent meanwhile.
    if (const qint64 now = ServerMilliseconds(); now - m_lastLook >= qint64(kWaitingLook.count())) {
        m_lastLook = now;
        LookAtWaiters(now, settings.headers);
    }
    std::map<QString, int> held;
    for (int i = 0; i <= maxcon; ++i)
        if (const cWinsockSlot *slot = objWS1.Item(i); slot && slot->State() != sckClosed)
            ++held[slot->RemoteHostIP()];
    while (!m_waiting.empty()) {
        const auto next = NextWaiter(held);
        const Waiting waiting = *next;
        const QString peer = objWS2.PendingPeerAddress(waiting.requestId);
        cWinsockSlot *slot = TakeSlot(maxcon, Newcomer{peer, waiting.asks});
        if (!slot)
            break;
        m_waiting.erase(next);
        Place(*slot, waiting.requestId);
        ++held[peer];
    }
    // The listener resumes once no waiter holds a descriptor of the reserve,
    // so at most one ever does; and with nobody waiting whatever the
    // descriptors: the next newcomer that finds them short pauses it again.
    const bool reserveHeld =
        std::any_of(m_waiting.begin(), m_waiting.end(), [](const Waiting &waiting) { return waiting.inReserve; });
    if (objWS2.Paused() && (m_waiting.empty() || (!reserveHeld && m_waiting.size() < kMaxWaiting &&
                                                  !objWS2.NextDescriptorInReserve())))
        objWS2.Resume();
    if (m_waiting.empty())
        return;
    m_waitingTimer.expires_after(kWaitingLook);
    m_waitingTimer.async_wait([this](const asio::error_code &error) {
        if (!error)
            PlaceWaiting();
    });
}

void cWebServer::objWS1_DataArrival(int Index)
{
    cWinsockSlot *slot = objWS1.Item(Index);
    if (!slot)
        return;
    const QByteArray data = slot->GetData();
    // After Stop, a connection from before is answered nothing more: no
    // answer, no stream, no picture taken for it; one under way finishes.
    if (!m_bServing) {
        if (slot->Tag.isEmpty() || slot->Idle())
            Drop(*slot);
        return;
    }
    // How a connection is answered is decided on its first arrival.
    if (slot->Tag.isEmpty() && slot->Head.isEmpty() && !slot->Http) {
        std::lock_guard lock(m_settingsMutex);
        slot->Http = m_settings.headers;
    }
    if (slot->Http) {
        ReadHttp(*slot, data);
        return;
    }
    // The first request may come in pieces: it is decided on its first line.
    // Behind a password the whole first line is read, for its key.
    if (slot->Tag.isEmpty()) {
        const qsizetype deciding = Current().password.isEmpty() ? kDecidingBytes : kMaxRequestHead;
        slot->Head += data.left(deciding - slot->Head.size());
        if (!Decided(slot->Head, deciding) && !slot->PeerDone())
            return;
        const QByteArray request = std::exchange(slot->Head, QByteArray());
        Answer(*slot, request);
        return;
    }
    // A later arrival that begins "GET" is a request of its own. Anything
    // else (the rest of a request sent in pieces, or the peer's end of
    // sending) asks for nothing more: the connection ends once what it is owed
    // has gone out, at once when it is owed nothing, never cutting an answer short.
    if (data.startsWith(kGet))
        Answer(*slot, data);
    else if (slot->Idle() && !slot->AwaitsPicture)
        Drop(*slot);
}

void cWebServer::ReadHttp(cWinsockSlot &slot, const QByteArray &data)
{
    // One request per connection: what follows it is read and let go.
    if (!slot.Tag.isEmpty()) {
        if (data.isEmpty() && slot.Idle() && !slot.Streaming && !slot.AwaitsPicture)
            Drop(slot);
        return;
    }
    slot.Head += data.left(kMaxRequestHead + 1 - slot.Head.size());
    if (slot.Head.isEmpty() && slot.PeerDone()) {
        Drop(slot);
        return;
    }
    // Each byte is looked at once as it comes, so what is no request is told
    // at once; the head is read whole only when it can be answered.
    if (!HeadToRead(slot.Head, slot.PeerDone(), slot.HeadScan))
        return;
    const HttpRequest request = ReadRequestHead(slot.Head, slot.PeerDone());
    if (request.status == HttpRequest::Status::Incomplete)
        return;
    const QByteArray head = std::exchange(slot.Head, QByteArray());
    slot.HeadScan = {};
    const bool headOnly = request.method == "HEAD";
    const bool complete = request.status == HttpRequest::Status::Complete;
    const bool asks =
        request.status == HttpRequest::Status::Simple || (complete && (headOnly || request.method == "GET"));
    if (asks && KeyRefused(slot, head, complete, headOnly))
        return;
    AnswerHttp(slot, request);
}

void cWebServer::AnswerHttp(cWinsockSlot &slot, const HttpRequest &request)
{
    using Status = HttpRequest::Status;
    slot.Tag = QStringLiteral("ok");
    slot.Progress();
    const std::time_t now = std::time(nullptr);
    const bool headOnly = request.method == "HEAD";
    if (request.status == Status::Simple) {
        AnswerPlain(slot, "GET " + request.path);
    } else if (request.status != Status::Complete) {
        slot.SendData(ErrorAnswer(RefusalStatus(request.status), now));
    } else if (request.method != "GET" && !headOnly) {
        slot.SendData(ErrorAnswer(IsKnownMethod(request.method) ? 405 : 501, now));
    } else {
        AnswerAsked(slot, request, WhatTargetAsks(request.path, request.query));
    }
}

void cWebServer::AnswerAsked(cWinsockSlot &slot, const HttpRequest &request, Asked asked)
{
    const Settings settings = Current();
    const bool headOnly = request.method == "HEAD";
    const std::time_t now = std::time(nullptr);
    // The page to watch, the status as JSON or the metrics: a text told afresh.
    auto sendText = [&](const QByteArray &contentType, const QByteArray &text) {
        const QByteArray head = Shaped(settings, request, FreshTextHead(contentType, text.size(), now));
        slot.SendData(headOnly ? head : head + text);
    };
    // The status page re-arms the capture timer as a picture does; the facts
    // as JSON or metrics take no picture, and are told with the page or not at all.
    if (asked == Asked::StatusPage)
        NotifyRequest();
    const bool tellsFacts = asked == Asked::StatusPage || asked == Asked::StatusJson || asked == Asked::Metrics;
    if (tellsFacts && !settings.uptime) {
        slot.SendData(ErrorAnswer(404, now, 0, headOnly));
        return;
    }
    switch (asked) {
    case Asked::StatusPage:
        slot.SendData(Shaped(settings, request, PageHead(settings.statusPage.size(), now)) +
                      (headOnly ? QByteArray() : settings.statusPage));
        break;
    case Asked::Stream:
        StartStream(slot, headOnly, CrossOriginFields(settings.allowedOrigins, request.origin));
        break;
    case Asked::Live:
        sendText("text/html; charset=utf-8", LivePage(CurrentShown().words));
        break;
    case Asked::StatusJson:
        sendText("application/json", StatusJson(Facts(settings)));
        break;
    case Asked::Metrics:
        sendText("text/plain; version=0.0.4; charset=utf-8", MetricsText(Facts(settings)));
        break;
    case Asked::Picture:
        if (!WaitsForPicture(slot, request, settings)) {
            NotifyRequest();
            AnswerHttpPicture(slot, request, settings);
        }
        break;
    }
}

ServerFacts cWebServer::Facts(const Settings &settings)
{
    ServerFacts facts;
    facts.face = CurrentShown().face;
    facts.uptimeSeconds = (ServerMilliseconds() - m_startedMs) / 1000;
    if (const cPictureSource::Shot shot = m_picture.Latest(settings.sPicturePath); shot.body->Size() > 0)
        facts.lastPicture = shot.modified;
    for (int i = 0; i <= objWS1.UBound(); ++i)
        if (const cWinsockSlot *slot = objWS1.Item(i); slot && slot->Streaming && slot->State() != sckClosed)
            ++facts.streamViewers;
    facts.counts = m_counts;
    return facts;
}

// The picture with its length and time, or only that it has not changed.
void cWebServer::AnswerHttpPicture(cWinsockSlot &slot, const HttpRequest &request, const Settings &settings)
{
    const std::time_t now = std::time(nullptr);
    const bool headOnly = request.method == "HEAD";
    const cPictureSource::Shot shot = m_picture.Latest(settings.sPicturePath);
    // Nothing taken yet: nothing a proxy should keep.
    if (shot.body->Size() == 0) {
        slot.SendData(ErrorAnswer(503, now, settings.maxAge, headOnly));
        return;
    }
    const std::time_t modified = std::min(shot.modified, now);
    if (ClientHoldsPicture(request, shot.etag, modified, shot.soleInItsSecond)) {
        slot.SendData(Shaped(settings, request, NotModifiedHead(modified, shot.etag, settings.maxAge, now)));
        return;
    }
    const QByteArray head =
        Shaped(settings, request, PictureHead(shot.body->Size(), modified, shot.etag, settings.maxAge, now));
    if (headOnly) {
        slot.SendData(head);
        return;
    }
    slot.SendData(Leading(head));
    SendPicture(slot, shot.body);
}

void cWebServer::StartStream(cWinsockSlot &slot, bool headOnly, const QByteArray &fields)
{
    NotifyRequest();
    const QByteArray head = WithFields(StreamHead(std::time(nullptr)), fields);
    if (headOnly) {
        slot.SendData(head);
        return;
    }
    slot.Streaming = true;
    m_bStreamWatched = true;
    slot.SendData(Leading(head + StreamFirstBoundary()));
    if (const cPictureSource::Body picture = m_picture.Current(Current().sPicturePath); picture->Size() > 0)
        SendStreamPart(slot, picture);
}

void cWebServer::SendStreamPart(cWinsockSlot &slot, const cPictureSource::Body &picture)
{
    slot.Progress();
    slot.SendData(Leading(StreamPartHead(picture->Size())));
    SendPicture(slot, picture, false);
    slot.SendData(Leading(StreamPartEnd()));
}

// On the I/O thread after each capture and each frame of the live stream:
// every live stream gets the new picture, but a viewer that has not yet taken
// two pictures' worth (counting what the kernel holds for it, which grows to
// megabytes) skips it. So a slow viewer sees a recent picture rather than one
// from seconds ago, and is seen to fall behind within a second.
void cWebServer::FeedStreams(const cPictureSource::Body &picture)
{
    bool watched = false;
    for (int i = 0; i <= objWS1.UBound(); ++i) {
        cWinsockSlot *slot = objWS1.Item(i);
        if (!slot || !slot->Streaming || slot->State() == sckClosed)
            continue;
        watched = true;
        if (picture->Size() > 0 && slot->BytesNotTaken() < 2 * picture->Size())
            SendStreamPart(*slot, picture);
    }
    m_bStreamWatched = watched;
}

void cWebServer::Answer(cWinsockSlot &slot, const QByteArray &request)
{
    slot.Tag = QStringLiteral("ok");
    slot.Progress();
    if (!request.startsWith(kGet)) {
        Drop(slot);
        return;
    }
    if (!KeyRefused(slot, request, false, false))
        AnswerPlain(slot, request);
}

// The picture or the status page without a header, to a request let in.
void cWebServer::AnswerPlain(cWinsockSlot &slot, const QByteArray &request)
{
    const Settings settings = Current();
    const bool uptime = request.left(kUptimeRequest.size()).toLower() == kUptimeRequest;
    if (!uptime && WaitsForPicture(slot, std::nullopt, settings))
        return;
    NotifyRequest();
    if (!uptime)
        SendPicture(slot, m_picture.Current(settings.sPicturePath));
    else if (settings.uptime)
        slot.SendData(settings.statusPage);
    // With the status page off, a request for it is owed nothing: its
    // connection ends at once rather than holding a slot.
    else if (slot.Idle())
        Drop(slot);
    // A peer that keeps asking but never reads is let go.
    if (slot.AnswersQueued() > MaxQueuedAnswers)
        Drop(slot);
}

// A request that finds the camera's picture older than the capture interval
// waits, holding up nobody, for the picture of the capture it asks for; at
// most FreshWaitMilliseconds. Once a capture asked for has published nothing
// for that long, requests get the picture there is until one is published.
bool cWebServer::WaitsForPicture(cWinsockSlot &slot, const std::optional<HttpRequest> &request,
                                 const Settings &settings)
{
    if (!settings.freshPicture || slot.AwaitsPicture || !m_picture.Stale(settings.intervalMs))
        return false;
    const qint64 now = ServerMilliseconds();
    if (m_freshAskedAt >= 0 && now - m_freshAskedAt >= FreshWaitMilliseconds)
        return false;
    if (m_freshAskedAt < 0) {
        m_freshAskedAt = now;
        NotifyFreshWanted();
    }
    slot.AwaitsPicture = true;
    m_pictureWaiters[slot.Index()] = {request, now + FreshWaitMilliseconds};
    return true;
}

void cWebServer::AnswerWaiters(bool bOverdueOnly)
{
    const qint64 now = ServerMilliseconds();
    for (auto waiter = m_pictureWaiters.begin(); waiter != m_pictureWaiters.end();) {
        cWinsockSlot *slot = objWS1.Item(waiter->first);
        const bool gone = !slot || !slot->AwaitsPicture;
        if (!gone && bOverdueOnly && now < waiter->second.until) {
            ++waiter;
            continue;
        }
        const std::optional<HttpRequest> request = std::move(waiter->second.request);
        waiter = m_pictureWaiters.erase(waiter);
        if (gone)
            continue;
        slot->AwaitsPicture = false;
        if (!m_bServing)
            Drop(*slot);
        else if (request)
            AnswerHttpPicture(*slot, *request, Current());
        else
            SendPicture(*slot, m_picture.Current(Current().sPicturePath));
    }
}

// The picture in pieces of at most CHUNK_SIZE bytes, each a view of the one
// shared picture.
void cWebServer::SendPicture(cWinsockSlot &slot, const cPictureSource::Body &picture, bool endsAnswer)
{
    qsizetype remaining = picture->Size();
    qsizetype offset = 0;
    while (CHUNK_SIZE < remaining) {
        slot.SendData(AnswerPiece{picture, offset, CHUNK_SIZE, false});
        offset += CHUNK_SIZE;
        remaining -= CHUNK_SIZE;
    }
    slot.SendData(AnswerPiece{picture, offset, remaining, endsAnswer});
}

void cWebServer::Drop(cWinsockSlot &slot)
{
    slot.Close();
    slot.Tag.clear();
}

// A request without the password: 401 as HTTP (503 while the record of
// wrong keys has no room for its address), else closed without a byte.
bool cWebServer::KeyRefused(cWinsockSlot &slot, const QByteArray &head, bool bHttp, bool headOnly)
{
    const QString peer = slot.RemoteHostIP();
    const cViewerKey::Verdict verdict = m_key.Judge(Current().password, head, bHttp, peer);
    if (verdict == cViewerKey::Verdict::Admitted)
        return false;
    RefuseKey(slot, verdict, bHttp, headOnly);
    return true;
}

// What a refused key costs: its line in the log; the wrong key that locks its
// address out frees every slot the address holds.
void cWebServer::RefuseKey(cWinsockSlot &slot, cViewerKey::Verdict verdict, bool bHttp, bool headOnly)
{
    const QString peer = slot.RemoteHostIP();
    ++m_counts.keyRefused;
    NotifyLog(Told::Line, cViewerKey::RefusedText(verdict, peer));
    slot.Tag = QStringLiteral("ok");
    slot.Progress();
    if (verdict == cViewerKey::Verdict::LockedNow) {
        NotifyLog(Told::Line, cViewerKey::LockedText(peer));
        DropLockedOut();
    } else if (bHttp) {
        const bool uncounted = verdict == cViewerKey::Verdict::Uncounted;
        const int retryAfter = uncounted ? int(cViewerKey::LockMilliseconds / 1000) : 0;
        slot.SendData(ErrorAnswer(uncounted ? 503 : 401, std::time(nullptr), retryAfter, headOnly));
    } else {
        Drop(slot);
    }
}

// Every slot held by an address locked out (an IPv6 peer: by its /64) goes.
void cWebServer::DropLockedOut()
{
    for (int i = 0; i <= objWS1.UBound(); ++i)
        if (cWinsockSlot *held = objWS1.Item(i); held && held->State() != sckClosed && m_key.Locked(held->RemoteHostIP()))
            Drop(*held);
}

void cWebServer::objWS1_SendComplete(int Index)
{
    // A live stream has sent its picture and waits for the next.
    if (cWinsockSlot *slot = objWS1.Item(Index); slot && !slot->Streaming)
        Drop(*slot);
    if (!m_waiting.empty())
        PlaceWaiting();
}

void cWebServer::SweepEverySecond()
{
    m_sweepTimer.expires_after(kSweepPeriod);
    m_sweepTimer.async_wait([this](const asio::error_code &error) {
        if (error)
            return;
        Sweep();
        SweepEverySecond();
    });
}

void cWebServer::Sweep()
{
    AnswerWaiters(true);
    // Every slot: one above a limit lowered while serving keeps its time-outs.
    for (int i = 0; i <= objWS1.UBound(); ++i)
        if (cWinsockSlot *slot = objWS1.Item(i); slot && slot->State() != sckClosed)
            if (SweepCloses(ViewOf(*slot), m_stallMilliseconds, m_headMilliseconds))
                Drop(*slot);
}
