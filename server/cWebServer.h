#pragma once

#include "cBanIP.h"
#include "cPictureSource.h"
#include "cServerThread.h"
#include "cViewerKey.h"
#include "cWinsock.h"
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
    // Slot mends: an answer that makes no progress for this long is dropped,
    // and so is a connection that has more answers waiting than this.
    static constexpr qint64 StallMilliseconds = 30000;
    static constexpr int MaxQueuedAnswers = 4;
    // The time-out sweep leaves a connection without a request alone until it
    // has been silent this long, so one accepted just before a tick, whose
    // request is already on its way, is not cut off.
    static constexpr qint64 SilentMilliseconds = 500;
    // With every slot taken, a connection silent this long gives its slot up
    // to a newcomer; so does an HTTP head not whole after SilentMilliseconds.
    static constexpr qint64 YieldMilliseconds = 100;
    // With every slot taken, an answer that has not moved this long (a live
    // stream's part not taken) gives its slot up to a newcomer too.
    static constexpr qint64 GiveWayMilliseconds = 1000;
    // An HTTP request whose head has begun to arrive has this long to finish it.
    static constexpr qint64 HeadMilliseconds = 10000;

    explicit cWebServer(ServerWindow window, QObject *parent = nullptr);
    ~cWebServer() override;

    // Rebuilds the ban list, creates slots 1 to maxcon, and listens on the
    // port. False when the port cannot be listened on (ListenError says why).
    bool StartServer(const QString &sBanText);
    void StopServer();
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
    // Any thread: the picture answered from now on, and sent to every live stream.
    void PublishPicture(cPictureSource::Picture picture);
    // Any thread: a picture for the live streams alone (a frame of the camera
    // between snapshots); what a request for the picture gets stays as it was.
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
    // Before the start: the clock the lock-out of wrong keys is timed by.
    void setViewerClock(cViewerKey::Clock clock) { m_key.setClock(std::move(clock)); }

private:
    struct Settings
    {
        int maxcon = 0;
        bool uptime = true;
        bool headers = false;
        int maxAge = 3;
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
    struct Waiting
    {
        int requestId;
        qint64 since;
    };

    // On the I/O thread.
    void objWS2_ConnectionRequest(int requestId);
    void objWS1_DataArrival(int Index);
    void objWS1_SendComplete(int Index);
    void Sweep();
    void SweepEverySecond();
    static bool Dawdling(const cWinsockSlot &slot);
    static bool CanGiveWay(const cWinsockSlot &slot);
    cWinsockSlot *TakeSlot(int maxcon);
    void ForgetGoneWaiters();
    void Place(cWinsockSlot &slot, int requestId);
    void PlaceWaiting();
    void Answer(cWinsockSlot &slot, const QByteArray &request);
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
    Settings Current() const;
    enum class Told { Accepted, Banned, OverLimit, Line };
    // Tells the window, on its thread, a short pause after the first news:
    // what comes meanwhile is told with it, every log line and one re-arm.
    // sText: the peer's address, or for Told::Line the line itself.
    void NotifyLog(Told told, const QString &sText);
    void NotifyRequest();
    void QueueNews();

    ServerWindow m_window;
    cServerThread m_io;
    cPictureSource m_picture;
    cWinsockListener objWS2;
    cWinsockArray objWS1;
    std::unique_ptr<cBanIP> m_cBanList = std::make_unique<cBanIP>();
    cViewerKey m_key;
    std::deque<Waiting> m_waiting;
    qint64 m_lastForget = 0;
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
        bool bQueued = false;
    };
    std::mutex m_newsMutex;
    News m_news;
    asio::steady_timer m_newsPause;
    std::string m_sProgramDir;
    QString m_sListenError;
    int m_handedSocket = -1;
    qint64 m_stallMilliseconds = StallMilliseconds;
    std::atomic<bool> m_bStreamWatched{false};
    // On the I/O thread: the connections counted, and when the server started.
    ServerCounts m_counts;
    qint64 m_startedMs = 0;
    // On the I/O thread: between Start and Stop. A connection left from
    // before Stop is answered nothing afterwards.
    bool m_bServing = false;
};
