#pragma once

#include "QtPrinters.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A fresh home for every test: the settings file (QSettings keeps its paths
// for the process, so it is pointed at the new folder explicitly), the
// temporary folder, and the built-in test pattern as the camera.
class TestHome : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        // The program's own settings format keeps its files where the INI format does.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_home.path());
        qputenv("VORSK_CAMERA", "test");
        qputenv("TMPDIR", QFile::encodeName(m_home.path()));
    }

    QString Folder() const { return m_home.path() + QLatin1Char('/'); }
    QString SettingsFile() const { return m_home.filePath(QStringLiteral("Vorsk/Vorsk.conf")); }

    QTemporaryDir m_home;
};
