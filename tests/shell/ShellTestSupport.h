#pragma once

#include "TestHome.h"
#include "ui_frmMain.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

// The window's tests, with a settings file of their own.
class SettingsHome : public TestHome
{
protected:
    void WriteSettings(const QString &contents) const
    {
        QDir().mkpath(m_home.filePath(QStringLiteral("Vorsk")));
        QFile file(SettingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents.toUtf8());
    }
};

// The bare controls of the main window, without the window's own behaviour.
struct BareControls
{
    BareControls() { ui.setupUi(&form); }
    QWidget form;
    Ui::frmMain ui;
};

// Answers the next modal dialog with the given action once it is open.
inline void WhenDialogOpens(std::function<void(QWidget &)> action)
{
    QTimer::singleShot(0, [action] {
        if (QWidget *dialog = QApplication::activeModalWidget())
            action(*dialog);
    });
}

inline void PressMessageBoxButton(QMessageBox::StandardButton button)
{
    WhenDialogOpens([button](QWidget &dialog) {
        if (auto *box = qobject_cast<QMessageBox *>(&dialog))
            box->button(button)->click();
    });
}
