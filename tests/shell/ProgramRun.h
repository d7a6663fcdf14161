#pragma once

#include "QtPrinters.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

// A port nobody listens on right now.
inline quint16 FreePort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::Any, 0));
    return probe.serverPort();
}

// One answer of the server: everything it sends before it closes.
inline QByteArray Fetch(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

// The real program as a child process, in a home of its own, with no display:
// DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are taken away.
class ProgramRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(QDir().mkpath(Home()) && QDir().mkpath(Tmp()));
        m_environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            m_environment.remove(QString::fromLatin1(name));
        m_environment.insert(QStringLiteral("HOME"), Home());
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Home() + QStringLiteral("/.config"));
        m_environment.insert(QStringLiteral("TMPDIR"), Tmp());
        m_environment.insert(QStringLiteral("VORSK_CAMERA"), QStringLiteral("test"));
    }

    QString Home() const { return m_root.filePath(QStringLiteral("home")); }
    QString Tmp() const { return m_root.filePath(QStringLiteral("tmp")); }
    QString UserSettings() const { return Home() + QStringLiteral("/.config/Vorsk/Vorsk.conf"); }
    // The picture of a run on a settings file: in the folder of that file,
    // "default" for the user's own, else the named file's base name and a hash.
    QString PictureOf(const QString &config) const
    {
        const QDir base(QStringLiteral("%1/vorsk-%2").arg(Tmp()).arg(getuid()));
        if (config.isEmpty())
            return base.filePath(QStringLiteral("default/lastpic.jpg"));
        const QStringList named =
            base.entryList({QFileInfo(config).completeBaseName() + QStringLiteral("-????????")}, QDir::Dirs);
        return named.size() == 1 ? base.filePath(named.constFirst() + QStringLiteral("/lastpic.jpg")) : QString();
    }
    // The picture of the run started last.
    QString Picture() const { return PictureOf(m_sConfig); }

    void Start(const QStringList &arguments)
    {
        const qsizetype config = arguments.indexOf(QStringLiteral("--config"));
        m_sConfig = config >= 0 ? arguments.value(config + 1) : QString();
        m_vorsk.setProcessEnvironment(m_environment);
        m_vorsk.start(QStringLiteral(VORSK_EXECUTABLE), arguments);
        ASSERT_TRUE(m_vorsk.waitForStarted());
    }

    // Runs the program to its end; its exit status.
    int Run(const QStringList &arguments)
    {
        Start(arguments);
        EXPECT_TRUE(m_vorsk.waitForFinished(10000));
        return m_vorsk.exitStatus() == QProcess::NormalExit ? m_vorsk.exitCode() : -1;
    }

    bool WaitForPicture()
    {
        for (int i = 0; i < 100 && !QFile::exists(Picture()) && m_vorsk.state() == QProcess::Running; ++i)
            QThread::msleep(100);
        return QFile::exists(Picture());
    }

    QString Out() { return QString::fromLocal8Bit(m_vorsk.readAllStandardOutput()); }
    QString Err() { return QString::fromLocal8Bit(m_vorsk.readAllStandardError()); }

    QTemporaryDir m_root;
    QString m_sConfig;
    QProcessEnvironment m_environment;
    QProcess m_vorsk;
};
