#include "mCommandLine.h"

#include "mMain.h"
#include "mSettingsStore.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void Print(std::FILE *stream, const QString &text)
{
    std::fputs(qPrintable(text), stream);
    std::fflush(stream);
}

// The options every Qt program takes (QGuiApplication's, QApplication's and
// the X11 platform's); QApplication reads and removes them itself.
struct ToolkitOption
{
    const char *name;
    bool bTakesValue;
};
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},   {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},   {"qwindowtitle", true},  {"session", true},
    {"display", true},    {"geometry", true},           {"title", true},         {"icon", true},
    {"name", true},       {"style", true},              {"stylesheet", true},    {"qmljsdebugger", true},
    {"reverse", false},   {"widgetcount", false},       {"nograb", false},       {"dograb", false},
    {"sync", false},      {"testability", false},
};

QList<QCommandLineOption> ToolkitOptions()
{
    QList<QCommandLineOption> options;
    for (const ToolkitOption &known : kToolkitOptions) {
        QCommandLineOption option(QString::fromLatin1(known.name));
        if (known.bTakesValue)
            option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        options << option;
    }
    return options;
}

// The first toolkit option given, without its dashes; empty when none.
QString ToolkitOptionGiven(const QCommandLineParser &parser)
{
    for (const QString &name : parser.optionNames())
        for (const ToolkitOption &known : kToolkitOptions)
            if (name == QLatin1String(known.name))
                return name;
    return {};
}

// Qt ends the program inside QApplication where it has nowhere to show a
// window; it is said here, before Qt is asked, with the way out.
bool WindowCanShow(const QCommandLineParser &parser)
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    return parser.isSet(QStringLiteral("platform")) || parser.isSet(QStringLiteral("display"));
}

} // namespace

std::variant<CommandLine, int> ReadCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vorsk, a webcam image server. The window also takes Qt's "
                                                   "standard options (-platform, -display, -style, ...)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows these options and ends."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and ends."));
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Serves without a window or display, with the stored "
                                                     "settings, read again on SIGHUP; log lines on stdout."));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Reads the settings from FILE instead of the user's own: an "
                                                   "INI file with the groups [prefs], [server] and [capture] "
                                                   "(man vorsk, SETTINGS FILE)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption camera(QStringLiteral("camera"),
                                    QStringLiteral("Uses camera ID: a device such as /dev/video0, test, or gst: "
                                                   "and a GStreamer pipeline (man vorsk, ENVIRONMENT); "
                                                   "overrides VORSK_CAMERA."),
                                    QStringLiteral("ID"));
    parser.addOptions({help, version, headless, config, camera});
    parser.addOptions(ToolkitOptions());
    // Qt's options begin with one dash: -platform offscreen, -style=Fusion.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QString usageHint = QStringLiteral("Try 'vorsk --help' for the options.\n");
    if (!parser.parse(arguments)) {
        Print(stderr, QStringLiteral("vorsk: ") + parser.errorText() + QLatin1Char('\n') + usageHint);
        return kExitUsage;
    }
    if (!parser.positionalArguments().isEmpty()) {
        Print(stderr, QStringLiteral("vorsk: unexpected argument '") + parser.positionalArguments().constFirst() +
                          QStringLiteral("'\n") + usageHint);
        return kExitUsage;
    }
    if (parser.isSet(help)) {
        // Read before any application object, the parser knows no program name.
        Print(stdout, parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("vorsk")));
        return 0;
    }
    if (parser.isSet(version)) {
        Print(stdout, QStringLiteral("Vorsk ") + VersionText(kVersionMajor, kVersionMinor, kVersionRevision) +
                          QLatin1Char('\n'));
        return 0;
    }
    if (const QString toolkit = ToolkitOptionGiven(parser); !toolkit.isEmpty() && parser.isSet(headless)) {
        Print(stderr, QStringLiteral("vorsk: -%1 is an option of the window, not of --headless\n").arg(toolkit) +
                          usageHint);
        return kExitUsage;
    }
    CommandLine options;
    options.bHeadless = parser.isSet(headless);
    options.sConfigFile = parser.value(config);
    options.sCamera = parser.value(camera);
    if (parser.isSet(config)) {
        if (const QString problem = SettingsFileProblem(options.sConfigFile); !problem.isEmpty()) {
            Print(stderr, QStringLiteral("vorsk: cannot read the settings file %1: %2\n")
                              .arg(options.sConfigFile, problem));
            return kExitFailure;
        }
    }
    if (!parser.isSet(headless) && !WindowCanShow(parser)) {
        Print(stderr, QStringLiteral("vorsk: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are "
                                     "not set); vorsk --headless serves without one\n"));
        return kExitFailure;
    }
    return options;
}

void UseCommandLine(const CommandLine &options)
{
    if (!options.sConfigFile.isEmpty())
        UseSettingsFile(options.sConfigFile);
    if (!options.sCamera.isEmpty())
        qputenv("VORSK_CAMERA", options.sCamera.toLocal8Bit());
}
