#pragma once

#include "QtPrinters.h"
#include "TestFiles.h"

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A private settings folder, and the camera chosen by VORSK_CAMERA for the test.
class CameraTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
        qputenv("VORSK_CAMERA", "test");
    }
    void TearDown() override { qunsetenv("VORSK_CAMERA"); }

    QString Folder() const { return m_home.path() + QLatin1Char('/'); }

    QTemporaryDir m_home;
};

// A source that is open and running but never delivers a frame.
inline const QString kSilentSource = QStringLiteral("gst:videotestsrc is-live=true ! valve drop=true");
// A still picture: the same frame every time.
inline const QString kStillSource = QStringLiteral("gst:videotestsrc is-live=true pattern=smpte75");
