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
    settings.maxAge = MaxAge(m_window.txtIntvl ? m_window.txtIntvl() : QStringLiteral("3"));
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
    if (news.bRequest)
        m_window.pictureRequested();
}

bool cWebServer::StartServer(const QString &sBanText)
{
    Refresh();
    bool ok = false;
    const int port = WholeNumberValue(m_window.txtPort(), &ok);
    auto banList = FillBanList(sBanText);
    const int maxcon = Current().maxcon;
    QString sError;
    const bool listening = m_io.Run([&] {
        m_cBanList = std::move(banList);
        for (int i = 1; i <= maxcon; ++i)
            objWS1.Load(i);
        objWS2.Close();
        objWS2.setLocalPort(ok ? port : -1);
        const int handed = std::exchange(m_handedSocket, -1);
        const bool bListening = handed >= 0 ? objWS2.Adopt(handed) : objWS2.Listen(m_sProgramDir);
        sError = objWS2.ErrorString();
        m_bServing = bListening;
        m_startedMs = ServerMilliseconds();
        if (bListening)
            SweepEverySecond();
        return bListening;
    });
    m_sListenError = sError;
    return listening;
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

void cWebServer::PublishPicture(cPictureSource::Picture picture)
{
    m_picture.Publish(std::move(picture));
    asio::post(m_io.Context(), [this] { FeedStreams(m_picture.Current(Current().sPicturePath)); });
}

void cWebServer::PublishStreamPicture(const cPictureSource::Picture &picture)
{
    if (!picture)
        return;
    // The sealed copy is made here, off the I/O thread.
    asio::post(m_io.Context(), [this, body = cAnswerBody::InFile(*picture)] { FeedStreams(body); });
}

void cWebServer::UnloadSlots()
{
    const int maxcon = Current().maxcon;
    m_io.Run([this, maxcon] {
        for (int i = 1; i <= maxcon; ++i)
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
    const int maxcon = Current().maxcon;
    if (cWinsockSlot *slot = TakeSlot(maxcon)) {
        Place(*slot, requestId);
        return;
    }
    if (m_waiting.size() >= kMaxWaiting)
        ForgetGoneWaiters();
    // Every slot is taken: the newcomer waits for one to be given up, by a
    // connection that dawdles or an answer that stopped moving.
    objWS2.Hold(requestId);
    m_waiting.push_back({requestId, ServerMilliseconds()});
    // With the queue full, or descriptors short (and no connection lingering
    // to be closed, which has had its answer), the listener pauses: those
    // after this one wait in the system's queue, in order, costing no
    // descriptor, instead of being turned away.
    if (m_waiting.size() >= kMaxWaiting || (InDescriptorReserve(requestId) && !objWS1.Lingering().CloseOldest()))
        objWS2.Pause();
    if (m_waiting.size() == 1)
        PlaceWaiting();
}

// A connection that has asked for nothing: silent, or the start of a
// request still not whole when the sweep would have let a silent connection go.
bool cWebServer::Dawdling(const cWinsockSlot &slot)
{
    return slot.Tag.isEmpty() && (slot.Head.isEmpty() || slot.MillisecondsConnected() >= SilentMilliseconds);
}

// What a slot does least with it: dawdling for at least YieldMilliseconds,
// or an answer (a live stream's part) that has not moved for GiveWayMilliseconds.
bool cWebServer::CanGiveWay(const cWinsockSlot &slot)
{
    if (Dawdling(slot))
        return slot.MillisecondsConnected() >= YieldMilliseconds;
    return slot.MillisecondsSinceProgress() >= GiveWayMilliseconds && slot.BytesNotTaken() > 0;
}

// The lowest free slot from 0 to maxcon; else, of those that can give way,
// one of the address that holds the most slots, the one idle longest, closed
// for the newcomer. No address is capped: behind a caching proxy every
// viewer has the same.
cWinsockSlot *cWebServer::TakeSlot(int maxcon)
{
    if (cWinsockSlot *slot = objWS1.LowestFree(maxcon))
        return slot;
    std::map<QString, int> held;
    for (int i = 0; i <= maxcon; ++i)
        if (const cWinsockSlot *slot = objWS1.Item(i); slot && slot->State() != sckClosed)
            ++held[slot->RemoteHostIP()];
    cWinsockSlot *chosen = nullptr;
    auto idle = [](const cWinsockSlot &slot) { return slot.MillisecondsSinceProgress(); };
    for (int i = 0; i <= maxcon; ++i) {
        cWinsockSlot *slot = objWS1.Item(i);
        if (!slot || !CanGiveWay(*slot))
            continue;
        const int holds = held[slot->RemoteHostIP()], chosenHolds = chosen ? held[chosen->RemoteHostIP()] : 0;
        if (!chosen || holds > chosenHolds || (holds == chosenHolds && idle(*slot) > idle(*chosen)))
            chosen = slot;
    }
    if (chosen)
        chosen->Close();
    return chosen;
}

void cWebServer::Place(cWinsockSlot &slot, int requestId)
{
    slot.Close();
    slot.Tag.clear();
    // A connection that cannot be taken (the system refuses to watch one
    // more descriptor) is closed alone; everyone else is served on.
    try {
        if (slot.Accept(objWS2, requestId)) {
            ++m_counts.accepted;
            NotifyLog(Told::Accepted, slot.RemoteHostIP());
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "vorsk: a connection cannot be taken: %s\n", error.what());
        slot.Close();
        objWS2.Refuse(requestId);
    }
}

// A waiter whose peer has gone holds no place in the queue. Looked for at
// most once a look of the queue, so a flood of arrivals costs no more.
void cWebServer::ForgetGoneWaiters()
{
    const qint64 now = ServerMilliseconds();
    if (now - m_lastForget < qint64(kWaitingLook.count()))
        return;
    m_lastForget = now;
    std::erase_if(m_waiting, [this](const Waiting &waiting) {
        const bool gone = !objWS2.IsPending(waiting.requestId) || objWS2.PendingGone(waiting.requestId);
        if (gone)
            objWS2.Refuse(waiting.requestId);
        return gone;
    });
}

// Newcomers take the slots silent connections give up, first come first;
// one that waited too long is closed as a refused one is.
void cWebServer::PlaceWaiting()
{
    const int maxcon = Current().maxcon;
    while (!m_waiting.empty()) {
        const Waiting first = m_waiting.front();
        if (!objWS2.IsPending(first.requestId) || objWS2.PendingGone(first.requestId)) {
            objWS2.Refuse(first.requestId);
            m_waiting.pop_front();
            continue;
        }
        if (ServerMilliseconds() - first.since > kMaxWaitMilliseconds || objWS2.State() == sckClosed) {
            const QString peer = objWS2.PendingPeerAddress(first.requestId);
            const bool overLimit = objWS2.State() != sckClosed;
            objWS2.Refuse(first.requestId);
            if (overLimit) {
                ++m_counts.overLimit;
                NotifyLog(Told::OverLimit, peer);
            }
            m_waiting.pop_front();
            continue;
        }
        cWinsockSlot *slot = TakeSlot(maxcon);
        if (!slot)
            break;
        m_waiting.pop_front();
        Place(*slot, first.requestId);
    }
    if (objWS2.Paused() && m_waiting.size() < kMaxWaiting && !objWS2.NextDescriptorInReserve())
        objWS2.Resume();
    if (m_waiting.empty() && !objWS2.Paused())
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
    // A connection from before Stop that asks only now gets nothing: no
    // answer, no stream, no picture taken for it.
    if (!m_bServing && slot->Tag.isEmpty()) {
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
    else if (slot->Idle())
        Drop(*slot);
}

void cWebServer::ReadHttp(cWinsockSlot &slot, const QByteArray &data)
{
    // One request per connection: what follows it is read and let go.
    if (!slot.Tag.isEmpty()) {
        if (data.isEmpty() && slot.Idle() && !slot.Streaming)
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
        Answer(slot, "GET " + request.path);
    } else if (request.status != Status::Complete) {
        const int status = request.status == Status::TooLarge ? 431 : request.status == Status::WrongVersion ? 505 : 400;
        slot.SendData(ErrorAnswer(status, now));
    } else if (request.method != "GET" && !headOnly) {
        slot.SendData(ErrorAnswer(405, now));
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
        AnswerHttpPicture(slot, request, settings);
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
    NotifyRequest();
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
    if (KeyRefused(slot, request, false, false))
        return;
    NotifyRequest();
    const Settings settings = Current();
    if (request.left(kUptimeRequest.size()).toLower() == kUptimeRequest) {
        if (settings.uptime)
            slot.SendData(settings.statusPage);
    } else {
        SendPicture(slot, m_picture.Current(settings.sPicturePath));
    }
    // A peer that keeps asking but never reads is let go.
    if (slot.AnswersQueued() > MaxQueuedAnswers)
        Drop(slot);
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

// A request without the password: 401 as HTTP, else closed without a byte.
// The wrong key that locks its address out frees every slot the address holds.
bool cWebServer::KeyRefused(cWinsockSlot &slot, const QByteArray &head, bool bHttp, bool headOnly)
{
    const cViewerKey::Verdict verdict = cViewerKey::Check(Current().password, head, bHttp);
    if (verdict == cViewerKey::Verdict::Admitted)
        return false;
    const QString peer = slot.RemoteHostIP();
    ++m_counts.keyRefused;
    NotifyLog(Told::Line, cViewerKey::WrongKeyText(peer));
    slot.Tag = QStringLiteral("ok");
    slot.Progress();
    if (verdict == cViewerKey::Verdict::Wrong && m_key.CountWrong(peer)) {
        NotifyLog(Told::Line, cViewerKey::LockedText(peer));
        for (int i = 0; i <= objWS1.UBound(); ++i)
            if (cWinsockSlot *held = objWS1.Item(i); held && held->State() != sckClosed && held->RemoteHostIP() == peer)
                Drop(*held);
    } else if (bHttp) {
        slot.SendData(ErrorAnswer(401, std::time(nullptr), 0, headOnly));
    } else {
        Drop(slot);
    }
    return true;
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
    const int maxcon = Current().maxcon;
    for (int i = 0; i <= maxcon && i <= objWS1.UBound(); ++i) {
        cWinsockSlot *slot = objWS1.Item(i);
        if (!slot || slot->State() == sckClosed)
            continue;
        // Silent connections go, and HTTP requests that take too long to
        // arrive; so does an answer that stopped moving, and a live stream
        // whose viewer stopped reading its picture.
        const bool answering = slot->Tag == QStringLiteral("ok");
        const qint64 silentLimit = slot->Http && !slot->Head.isEmpty() ? HeadMilliseconds : SilentMilliseconds;
        const bool stalled = slot->MillisecondsSinceProgress() > m_stallMilliseconds &&
                             (!slot->Streaming || slot->BytesNotTaken() > 0);
        if ((!answering && slot->MillisecondsConnected() >= silentLimit) || (answering && stalled))
            Drop(*slot);
    }
}
