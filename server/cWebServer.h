#pragma once

#include "cBanIP.h"
#include "cPictureSource.h"
#include "cServerThread.h"
#include "cViewerKey.h"
#include "cWinsock.h"
#include "mAdmission.h"
#include "mHttpRequest.h"
#include "mLivePage.h"
#include "mServerFacts.h"
#include "mTarget.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <tuple>
#include <mutex>
#include <utility>
#include <vector>

// What the server reads from the window and tells it. The readers are called
// on the window's thread (at the start, at each time-out tick and on
// Refresh); the two events are delivered on the window's thread as queued
// events, never from the server's own thread.
struct ServerWindow
{
    std::function<QString()> txtMaxCon;
    std::function<QString()> txtPort;
    // The one address to listen on (numeric, or a host name); empty or not
    // set: every address.
    std::function<QString()> listenAddress;
    std::function<bool()> chkUptime;
    // Answers as HTTP/1.1 with a status line and headers (true), or header-less
    // as HTTP/0.9 did (false, and when not set).
    std::function<bool()> chkHeaders;
    // The capture interval as typed: how long a proxy or browser may keep a
    // picture. Not set, or no valid interval: the default of 3 seconds.
    std::function<QString()> txtIntvl;
    // The password viewers must give; empty or not set: everyone may watch.
    std::function<QString()> txtPassword;
    // Full path of the picture file, answered where no picture is published;
    // empty when there is no place for it.
    std::function<QString()> picturePath;
    std::function<QString()> retUptimePage;
    // What /status.json and /metrics tell of the window's side; not set: nothing known.
    std::function<FaceFacts()> faceFacts;
    // The words of the page to watch (/live); not set: English.
    std::function<LiveWords()> liveWords;
    // The other sites whose pages may read the pictures and the JSON, as
    // [server] alloworigin names them; not set: none.
    std::function<QStringList()> allowOrigin;
    // A connection was accepted (true) or refused (false) from an address.
    std::function<void(bool, const QString &)> logConnection;
    // A connection over the limit was closed unanswered after its wait for a
    // slot. Not set (the window, whose log such a connection leaves as it
    // was): not told.
    std::function<void(const QString &)> logOverLimit;
    // Any other line for the log (a wrong key, an address locked out).
    std::function<void(const QString &)> logLine;
    // A request starting with "GET" arrived: the capture timer is re-armed if idle.
    std::function<void()> pictureRequested;
    // Whether a request that finds the camera's picture older than the
    // capture interval waits for a fresh one (true), or gets it at once and
    // re-arms the capture timer (false, and when not set).
    std::function<bool()> freshPicture;
    // Such a request waits: a capture is to start now unless one is under way.
    std::function<void()> freshPictureWanted;
};

// The window of a server that only serves one picture file: no status page
// text, no log, no capture timer (the load comparison and the browser test).
ServerWindow PictureOnlyWindow(const QString &sPort, const QString &sPicturePath, const QString &sMaxCon);

// Raises the soft limit of open descriptors to the hard one, so that a typed
// connection limit can be reached.
void RaiseDescriptorLimit();

// The web server: the listener objWS2, the slot pool objWS1 and the ban list,
// with the handlers of their events, all on the server's own I/O thread. The
// object itself belongs to the window's thread. Answers are header-less (the
// simple response of HTTP/0.9): the picture's bytes or the status page, and
// the end of the answer is the close; or, with HTTP headers chosen, HTTP/1.1
// answers with a status line and header fields, still one per connection, and
// live streams of the pictures as they are taken.
class cWebServer : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 CHUNK_SIZE = 60000;
    // An answer that makes no progress for this long is dropped, and so is a
    // connection that has more answers waiting than this.
    static constexpr qint64 StallMilliseconds = LimitsOf(ConnectionState::Answering).sweep;
    static constexpr int MaxQueuedAnswers = 4;
    // The time-out sweep leaves a connection without a request alone until it
    // has been silent this long, so one accepted just before a tick, whose
    // request is already on its way, is not cut off.
    static constexpr qint64 SilentMilliseconds = LimitsOf(ConnectionState::ReadingHead).sweep;
    // With every slot taken, a connection reading its head this long gives its
    // slot up to a newcomer.
    static constexpr qint64 YieldMilliseconds = LimitsOf(ConnectionState::ReadingHead).giveWay;
    // With every slot taken, an answer that has not moved this long (a live
    // stream's part not taken) gives its slot up to a newcomer too.
    static constexpr qint64 GiveWayMilliseconds = LimitsOf(ConnectionState::Answering).giveWay;
    // An HTTP request whose head has begun to arrive has this long to finish it.
    static constexpr qint64 HeadMilliseconds = LimitsOf(ConnectionState::ReadingHead).sweepHttpHead;
    // A request waiting for a fresh picture gets the picture there is after
    // this long: what a capture takes at most, a camera reopened included.
    static constexpr qint64 FreshWaitMilliseconds = 8000;

    explicit cWebServer(ServerWindow window, QObject *parent = nullptr);
    ~cWebServer() override;

    // Rebuilds the ban list, creates slots 1 to maxcon, and listens on the
    // port (of the listen address, when one is set). False when the port
    // cannot be listened on (ListenError says why).
    bool StartServer(const QString &sBanText);
    void StopServer();
    // Listens as the window's settings say now: on a port other than the one
    // listened on, the new socket is opened before the old one closes, and
    // when it cannot be (false, ListenError says why) the old one listens on.
    // A socket handed over stays, and port 0 keeps the port it has.
    bool OpenListener();
    // The ban list from now on, one address a line.
    void setBanList(const QString &sBanText);
    // Creates the slots missing up to the limit of the window's settings as
    // last read: a limit raised while serving holds at once.
    void LoadSlots();
    QString ListenError() const { return m_sListenError; }
    // The next start listens on this socket, handed over listening (by
    // systemd), instead of opening the port; later starts open it again.
    void setHandedSocket(int descriptor) { m_handedSocket = descriptor; }
    // The port listened on (the one the system chose for port 0).
    int ListeningPort();
    // At shut-down: slots 1 to maxcon go away (element 0 stays).
    void UnloadSlots();
    // Reads the window's settings again; they hold from now on.
    void Refresh();
    // Any thread: the picture answered from now on, to the requests waiting
    // for it too. bFromCamera: a frame the capture cycle took from the
    // camera, which the live streams get from the camera at their own pace,
    // and for which a request may wait when it is old. Otherwise (the picture
    // saying there is none, or one from elsewhere) it goes to every live
    // stream at once.
    void PublishPicture(cPictureSource::Picture picture, bool bFromCamera = false);
    // Any thread: a picture for the live streams alone (a frame of the camera
    // between snapshots); what a request for the picture gets stays as it was.
    // None: only whether anyone still watches is looked at again.
    void PublishStreamPicture(const cPictureSource::Picture &picture);
    // Any thread: whether anyone watched a live stream when it was last fed
    // or last begun; the live stream's pictures are made only while so.
    bool StreamWatched() const { return m_bStreamWatched; }
    void tmtTimeout_Timer();
    // Tells the window at once what waits for the pause: at shut-down, after
    // StopServer, so that no line is lost with the program's end.
    void DeliverNews();

    // A slot's state and unsent bytes, asked of the I/O thread.
    int SlotState(int lIndex);
    qint64 SlotBytesToWrite(int lIndex);

    void setStallMilliseconds(qint64 milliseconds) { m_stallMilliseconds = milliseconds; }
    void setHeadMilliseconds(qint64 milliseconds) { m_headMilliseconds = milliseconds; }
    // Before the start: the clock the lock-out of wrong keys is timed by.
    void setViewerClock(cViewerKey::Clock clock) { m_key.setClock(std::move(clock)); }

private:
    struct Settings
    {
        int maxcon = 0;
        bool uptime = true;
        bool headers = false;
        int maxAge = 3;
        qint64 intervalMs = 3000;
        bool freshPicture = false;
        QByteArray password;
        QString sPicturePath;
        QByteArray statusPage;
        QList<QByteArray> allowedOrigins;
    };
    // What only /live, /status.json and /metrics tell, kept apart from the
    // settings every request copies.
    struct Shown
    {
        FaceFacts face;
        LiveWords words;
    };
    // A newcomer waiting for a slot, and what it asks for as far as its
    // request had come when it was last looked at.
    struct Waiting
    {
        int requestId;
        qint64 since;
        Asks asks = Asks::Unknown;
        qint64 looked = 0;
        // It holds a descriptor kept for the slots and files.
        bool inReserve = false;
    };

    // On the I/O thread.
    void objWS2_ConnectionRequest(int requestId);
    void objWS1_DataArrival(int Index);
    void objWS1_SendComplete(int Index);
    void Sweep();
    // Listens as the window's settings say; on a start, serving begins in
    // the same step on the I/O thread.
    bool Listen(bool bStart);
    // Port -1 for one the settings do not make out.
    bool ListenOnIoThread(int port, const QString &sListen, QString &sError);
    void SweepEverySecond();
    SlotView ViewOf(const cWinsockSlot &slot) const;
    cWinsockSlot *TakeSlot(int maxcon, const Newcomer &newcomer);
    // Looks again at what waiters ask; those gone or waiting too long leave.
    void LookAtWaiters(qint64 now, bool http);
    bool LookAt(Waiting &waiting, qint64 now, bool http);
    // held: how many slots each address holds.
    std::deque<Waiting>::iterator NextWaiter(std::map<QString, int> &held);
    void Place(cWinsockSlot &slot, int requestId);
    void PlaceWaiting();
    void Answer(cWinsockSlot &slot, const QByteArray &request);
    void AnswerPlain(cWinsockSlot &slot, const QByteArray &request);
    // Whether the request (nothing: a header-less one) waits for the next picture.
    bool WaitsForPicture(cWinsockSlot &slot, const std::optional<HttpRequest> &request, const Settings &settings);
    // Answers the requests waiting for a picture: all, or those waiting too long.
    void AnswerWaiters(bool bOverdueOnly);
    void SendPicture(cWinsockSlot &slot, const cPictureSource::Body &picture, bool endsAnswer = true);
    // HTTP/1.1: the head is gathered up to its blank line, then answered once.
    void ReadHttp(cWinsockSlot &slot, const QByteArray &data);
    void AnswerHttp(cWinsockSlot &slot, const HttpRequest &request);
    void AnswerAsked(cWinsockSlot &slot, const HttpRequest &request, Asked asked);
    ServerFacts Facts(const Settings &settings);
    Shown CurrentShown() const;
    void AnswerHttpPicture(cWinsockSlot &slot, const HttpRequest &request, const Settings &settings);
    void StartStream(cWinsockSlot &slot, bool headOnly, const QByteArray &fields = {});
    void SendStreamPart(cWinsockSlot &slot, const cPictureSource::Body &picture);
    void FeedStreams(const cPictureSource::Body &picture);
    void Drop(cWinsockSlot &slot);
    // Whether a request without the password was refused (and the slot dealt with).
    bool KeyRefused(cWinsockSlot &slot, const QByteArray &head, bool bHttp, bool headOnly);
    void RefuseKey(cWinsockSlot &slot, cViewerKey::Verdict verdict, bool bHttp, bool headOnly);
    void DropLockedOut();
    Settings Current() const;
    enum class Told { Accepted, Banned, OverLimit, Line };
    // Tells the window, on its thread, a short pause after the first news:
    // what comes meanwhile is told with it, every log line and one re-arm.
    // sText: the peer's address, or for Told::Line the line itself.
    void NotifyLog(Told told, const QString &sText);
    void NotifyRequest();
    void NotifyFreshWanted();
    void QueueNews();

    ServerWindow m_window;
    cServerThread m_io;
    cPictureSource m_picture;
    cWinsockListener objWS2;
    cWinsockArray objWS1;
    std::unique_ptr<cBanIP> m_cBanList = std::make_unique<cBanIP>();
    cViewerKey m_key;
    std::deque<Waiting> m_waiting;
    // On the I/O thread: the requests waiting for a fresh picture, by slot,
    // with when they get what there is; and when that capture was asked for,
    // while none has been published since (-1).
    struct PictureWaiter
    {
        std::optional<HttpRequest> request;
        qint64 until;
    };
    std::map<int, PictureWaiter> m_pictureWaiters;
    qint64 m_freshAskedAt = -1;
    qint64 m_lastLook = 0;
    asio::steady_timer m_waitingTimer;
    // The time-outs are the I/O thread's own: a window held up never holds them.
    asio::steady_timer m_sweepTimer;
    mutable std::mutex m_settingsMutex;
    Settings m_settings;
    Shown m_shown;
    struct News
    {
        // Every connection of the pause, accepted or refused, in order; the
        // oldest give way beyond a bound, should the window's thread be held up.
        std::deque<std::pair<Told, QString>> log;
        bool bRequest = false;
        bool bFreshWanted = false;
        bool bQueued = false;
    };
    std::mutex m_newsMutex;
    News m_news;
    asio::steady_timer m_newsPause;
    std::string m_sProgramDir;
    QString m_sListenError;
    int m_handedSocket = -1;
    // On the I/O thread: the listener is the socket handed over.
    bool m_bHandedListening = false;
    // The listen address the listener was opened for (empty: every address).
    QString m_sListenAddress;
    qint64 m_stallMilliseconds = StallMilliseconds;
    qint64 m_headMilliseconds = HeadMilliseconds;
    std::atomic<bool> m_bStreamWatched{false};
    // On the I/O thread: the connections counted, and when the server started.
    ServerCounts m_counts;
    qint64 m_startedMs = 0;
    // On the I/O thread: between Start and Stop. A connection left from
    // before Stop is answered nothing afterwards.
    bool m_bServing = false;
};
