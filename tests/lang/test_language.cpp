#include "LangTestSupport.h"
#include "mLanguage.h"
#include "vorskres.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>
#include <dlfcn.h>

namespace {

// The program's shared object comes from the English library, registered the way an
// installer registers it, in a config folder of this test process.
void UseRegisteredEnglish()
{
    static QTemporaryDir config;
    static bool registered = false;
    if (registered)
        return;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    void *library = dlopen(VORSKRES_EN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const auto registerServer =
        reinterpret_cast<PFN_DllRegisterServer>(dlsym(library, "DllRegisterServer"));
    ASSERT_EQ(registerServer(), VR_OK);
    dlclose(library);
    registered = true;
}

struct Form
{
    Form()
    {
        const auto label = [this](const char *name, const QString &text) {
            auto *control = new QLabel(text, &window);
            control->setObjectName(QLatin1String(name));
            return control;
        };
        for (const char *text : {"105", "0", "-", "1.16.23", "70%", "120 x 340", "Copy", " 141 "})
            label(text, QLatin1String(text));
        label("tipped", QStringLiteral("x"))->setToolTip(QStringLiteral("108"));
        label("plainTip", QStringLiteral("y"))->setToolTip(QStringLiteral("Click|here"));
        label("unknownTip", QStringLiteral("z"))->setToolTip(QStringLiteral("99"));
        auto *frame = new QGroupBox(QStringLiteral("132"), &window);
        new QPushButton(QStringLiteral("104"), frame);
        new QCheckBox(QStringLiteral("150"), frame);
        new QLineEdit(QStringLiteral("105"), frame);

        auto *menuBar = new QMenuBar(&window);
        QMenu *menu = menuBar->addMenu(QStringLiteral("139"));
        show = menu->addAction(QStringLiteral("153"));
        menu->addSeparator();
        blank = menu->addAction(QString());

        toolbar = new QToolBar(&window);
        tipped = toolbar->addAction(QStringLiteral("105"));
        tipped->setToolTip(QStringLiteral("106"));
        untipped = toolbar->addAction(QStringLiteral("107"));
        toolbar->setFont(QFont(QStringLiteral("Toolbar Face")));
    }

    QString Text(const char *name) const
    {
        return window.findChild<QLabel *>(QLatin1String(name))->text();
    }

    QWidget window;
    QAction *show;
    QAction *blank;
    QToolBar *toolbar;
    QAction *tipped;
    QAction *untipped;
};

// The controls whose font the style sets: all but menus, the toolbar with its buttons and
// Qt's own parts of widgets.
QList<QWidget *> FontControls(const Form &form)
{
    QList<QWidget *> controls;
    for (QWidget *widget : form.window.findChildren<QWidget *>()) {
        if (!qobject_cast<QMenu *>(widget) && !qobject_cast<QMenuBar *>(widget)
            && widget != form.toolbar && widget->parentWidget() != form.toolbar
            && !widget->objectName().startsWith(QLatin1String("qt_")))
            controls << widget;
    }
    return controls;
}

} // namespace

TEST(Language, LangStringAndLangPictureAnswerFromTheLibrary)
{
    UseRegisteredEnglish();
    EXPECT_EQ(LangString(153), QStringLiteral("Show Vorsk Server Window"));
    EXPECT_EQ(LangString(149), QStringLiteral("lastpic"));
    EXPECT_EQ(LangString(99), QString());
    EXPECT_EQ(LangString(0), QString());
    EXPECT_EQ(LangString(-5), QString());
    EXPECT_EQ(LangString(144), QStringLiteral("Could not start camera.\\nMake sure its connected "
                                              "and try again."));
    EXPECT_EQ(LangPicture(101, 0).size(), QSize(309, 75));
    EXPECT_TRUE(LangPicture(101, 1).isNull());
}

TEST(Language, ApplyLanguageReplacesIDsByType)
{
    UseRegisteredEnglish();
    Form form;
    ApplyLanguage(form.window, true, [] { return true; });

    EXPECT_EQ(form.Text("105"), QStringLiteral("&Start server"));
    EXPECT_EQ(form.Text("0"), QString());
    EXPECT_EQ(form.Text(" 141 "), QStringLiteral("About"));
    for (const char *kept : {"-", "1.16.23", "70%", "120 x 340", "Copy"})
        EXPECT_EQ(form.Text(kept), QLatin1String(kept));
    EXPECT_EQ(form.window.findChild<QGroupBox *>()->title(), QStringLiteral("Settings"));
    EXPECT_EQ(form.window.findChild<QPushButton *>()->text(), QStringLiteral("&Help"));
    EXPECT_EQ(form.window.findChild<QCheckBox *>()->text(), QStringLiteral("View last sent image"));
    EXPECT_EQ(form.window.findChild<QLineEdit *>()->text(), QStringLiteral("105"));

    const auto tip = [&](const char *name) {
        return form.window.findChild<QLabel *>(QLatin1String(name))->toolTip();
    };
    EXPECT_EQ(tip("tipped"), QStringLiteral("Your (outside) URL"));
    EXPECT_EQ(tip("plainTip"), QStringLiteral("Click|here"));
    EXPECT_EQ(tip("unknownTip"), QString());

    EXPECT_EQ(form.show->text(), QStringLiteral("Show Vorsk Server Window"));
    EXPECT_EQ(form.window.findChild<QMenu *>()->title(), QStringLiteral("Log"));
    EXPECT_EQ(form.blank->text(), QString());

    EXPECT_EQ(form.tipped->toolTip(), QStringLiteral("St&op server"));
    EXPECT_EQ(form.tipped->text(), QStringLiteral("&Start server"));
    EXPECT_EQ(form.untipped->text(), QStringLiteral("&Exit"));
    EXPECT_EQ(form.untipped->toolTip(), QStringLiteral("Exit"));
}

TEST(Language, FontsFollowTheStyleUnlessKept)
{
    UseRegisteredEnglish();
    {
        Form form;
        for (QWidget *control : FontControls(form))
            control->setFont(QFont(QStringLiteral("Verdana")));
        int asked = 0;
        ApplyLanguage(form.window, true, [&] { return ++asked, true; });
        EXPECT_EQ(asked, 0);
        for (QWidget *control : FontControls(form))
            EXPECT_EQ(control->font().family(), QStringLiteral("Verdana"));
    }
    {
        Form form;
        const QList<QWidget *> controls = FontControls(form);
        int asked = 0;
        ApplyLanguage(form.window, false, [&] { return ++asked, true; });
        EXPECT_EQ(asked, controls.size());
        for (QWidget *control : controls)
            EXPECT_EQ(control->font().family(), QStringLiteral("MS Sans Serif"))
                << control->metaObject()->className();
        EXPECT_EQ(form.toolbar->font().family(), QStringLiteral("Toolbar Face"));
        EXPECT_EQ(form.Text("105"), QStringLiteral("&Start server"));
    }
    {
        // The style is asked afresh for each control, and a failing answer costs only the font.
        Form form;
        int asked = 0;
        ApplyLanguage(form.window, false, [&] {
            if (++asked == 1)
                throw std::runtime_error("no style");
            return asked % 2 == 0;
        });
        QStringList faces;
        for (QWidget *control : FontControls(form))
            faces << control->font().family();
        EXPECT_TRUE(faces.contains(QStringLiteral("MS Sans Serif")));
        EXPECT_TRUE(faces.contains(QStringLiteral("Verdana")));
        EXPECT_EQ(form.Text("105"), QStringLiteral("&Start server"));
    }
}
