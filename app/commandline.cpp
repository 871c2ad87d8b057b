#include "commandline.h"

#include <QGuiApplication>
#include <QScreen>

#include <optional>

namespace {

const char* const Help = R"(Usage: visualview [--screen <number or name>] [Qt's options]
       visualview --list-screens
       visualview -h | --help | --version

Shows full screen every contact that an interactive whiteboard reports, a
marker with an information tag and a stroke per pen, finger and eraser, over
test patterns, and measures the board. The board's driver, libnorvaboardex,
is loaded where the system finds libraries; visualview-demo runs it on the
simulated board.

Keys: H help, Esc quit, Return window or full screen, Backspace clear,
Space tags, G grid, S shapes, C colours, B black, Left and Right bars,
0-9 stroke width, M measurements, T tap targets.

Options:
  --screen <number or name>  Opens on that screen, as --list-screens names
                             it; the board's contacts land on it.
  --list-screens             Lists the screens: number, name, geometry and
                             physical size.
  -h, --help                 Shows this help.
  --version                  Shows the version.
Qt's own options (-platform, -display, -style, -qwindowgeometry and the
others that Qt's documentation lists) go to Qt.

Environment:
  VISUALVIEW_SCREEN   the screen, when --screen is not given
  VISUALVIEW_SIZE_MM  the board's size in millimetres, WxH, e.g. 1650x930
  NORVABOARD_*        read by the simulated board, see visualview-demo(1)

Exit status: 0 when closed; 1 without a display; 2 for a wrong command line
or an unknown screen.

See visualview(1), and the user's guide in
/usr/share/doc/visualview/docs/guide.md.
)";

const char* const Hint = "visualview --help lists the options";

// The options that Qt's application objects take out of the arguments, with
// one dash or two, and whether each takes a value: the next argument, or for
// some one after '='. From display on, those of X11.
struct QtOption
{
    const char* name;
    bool value;
    bool joined;
};

const QtOption QtOptions[] = {
    {"platform", true, false},      {"platformpluginpath", true, false},
    {"platformtheme", true, false}, {"plugin", true, false},
    {"qmljsdebugger", true, true},  {"qwindowgeometry", true, false},
    {"qwindowicon", true, false},   {"qwindowtitle", true, false},
    {"reverse", false, false},      {"session", true, false},
    {"testability", false, false},  {"style", true, true},
    {"stylesheet", true, true},     {"widgetcount", false, false},
    {"display", true, false},       {"geometry", true, false},
    {"title", true, false},         {"icon", true, false},
    {"name", true, false},          {"visual", true, false},
    {"nograb", false, false},       {"dograb", false, false},
};

const QtOption* qtOption(const QString& name)
{
    for (const QtOption& option : QtOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

// The name and, after '=', the value of an option typed with one dash or
// two; no name for what is no option.
struct Typed
{
    QString name;
    QString value;
    bool joined = false;
};

Typed typed(const QString& argument)
{
    Typed option;
    if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-") ||
        argument == QLatin1String("--"))
        return option;
    option.name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const int equals = option.name.indexOf(QLatin1Char('='));
    if (equals >= 0) {
        option.value = option.name.mid(equals + 1);
        option.name.truncate(equals);
        option.joined = true;
    }
    return option;
}

QString quoted(const QString& text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

} // namespace

CommandLine::CommandLine(const QStringList& arguments)
{
    bool help = false;
    bool version = false;
    bool list = false;
    const auto fail = [this](const QString& problem) {
        if (todo != Action::Wrong)
            wrong = problem + QStringLiteral(" (%1)").arg(QLatin1String(Hint));
        todo = Action::Wrong;
    };
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const Typed option = typed(argument);
        // The value joined to the option, else the next argument.
        const auto value = [&]() -> std::optional<QString> {
            if (option.joined)
                return option.value;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        if (option.name.isEmpty()) {
            fail(QStringLiteral("unexpected argument %1").arg(quoted(argument)));
        } else if (option.name == QLatin1String("h") || option.name == QLatin1String("help")) {
            help = true;
        } else if (option.name == QLatin1String("version")) {
            version = true;
        } else if (option.name == QLatin1String("list-screens")) {
            list = true;
        } else if (option.name == QLatin1String("screen")) {
            const std::optional<QString> screen = value();
            if (!screen || screen->isEmpty())
                fail(QStringLiteral("%1 needs a screen's number or name, as --list-screens "
                                    "gives them")
                         .arg(argument));
            else
                wantedScreen = *screen;
            wantedScreenFrom = QStringLiteral("--screen");
        } else if (const QtOption* qt = qtOption(option.name)) {
            if (option.joined && !qt->joined) {
                fail(QStringLiteral("unknown option %1").arg(quoted(argument)));
            } else if (!qt->value) {
                continue;
            } else if (const std::optional<QString> given = value()) {
                if (option.name == QLatin1String("platform"))
                    platform = *given;
                displayNamed = displayNamed || option.name == QLatin1String("display");
            } else {
                fail(QStringLiteral("%1 needs a value").arg(quoted(argument)));
            }
        } else {
            fail(QStringLiteral("unknown option %1").arg(quoted(argument)));
        }
    }
    if (todo == Action::Wrong)
        return;
    if (help)
        todo = Action::Help;
    else if (version)
        todo = Action::Version;
    else if (list)
        todo = Action::ListScreens;
    if (wantedScreenFrom.isEmpty() && !qEnvironmentVariableIsEmpty("VISUALVIEW_SCREEN")) {
        wantedScreen = qEnvironmentVariable("VISUALVIEW_SCREEN");
        wantedScreenFrom = QStringLiteral("VISUALVIEW_SCREEN");
    }
}

QString CommandLine::missingDisplay() const
{
#ifdef Q_OS_LINUX
    // Qt ends the program with an abort and advice to reinstall it when the
    // platform it picks finds no display.
    const QString named = platform.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platform;
    const bool x11 = named.isEmpty() || named.startsWith(QLatin1String("xcb"));
    const bool wayland = named.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (x11 && !wayland && !displayNamed && qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral(
            "no display to show the board on: neither DISPLAY nor WAYLAND_DISPLAY is set; run "
            "it in a desktop session, or on a virtual screen with a window manager: xvfb-run -s "
            "'-screen 0 1920x1080x24' sh -c 'openbox & visualview'");
#endif
    return QString();
}

QString CommandLine::help()
{
    return version() + QLatin1Char('\n') + QLatin1String(Help);
}

QString CommandLine::version()
{
    return QStringLiteral("visualview " VISUALVIEW_VERSION);
}

QString CommandLine::screenList()
{
    // X11's geometry: 1920x1080+0+0.
    const auto offset = [](int value) {
        return (value < 0 ? QString() : QStringLiteral("+")) + QString::number(value);
    };
    QString list;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (int i = 0; i < screens.size(); ++i) {
        const QScreen* screen = screens[i];
        const QRect area = screen->geometry();
        const QSizeF size = screen->physicalSize();
        const QString name = screen->name();
        QStringList fields = {
            QString::number(i + 1), name.isEmpty() ? QStringLiteral("(unnamed)") : name,
            QStringLiteral("%1x%2").arg(area.width()).arg(area.height()) + offset(area.x()) +
                offset(area.y()),
            QStringLiteral("%1x%2 mm").arg(qRound(size.width())).arg(qRound(size.height()))};
        if (screen == QGuiApplication::primaryScreen())
            fields << QStringLiteral("primary");
        list += fields.join(QLatin1Char(' ')) + QLatin1Char('\n');
    }
    return list;
}

QScreen* CommandLine::findScreen(const QString& wanted, QString* problem)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    bool number = false;
    const int index = wanted.toInt(&number) - 1;
    if (number) {
        if (index >= 0 && index < screens.size())
            return screens[index];
        *problem = QStringLiteral("there is no screen number %1").arg(wanted);
        return nullptr;
    }
    QList<QScreen*> named;
    for (QScreen* screen : screens)
        if (screen->name().compare(wanted, Qt::CaseInsensitive) == 0)
            named << screen;
    if (named.size() == 1)
        return named.front();
    *problem = named.isEmpty() ? QStringLiteral("there is no screen named %1").arg(quoted(wanted))
                               : QStringLiteral("%1 screens are named %2: give the number of one")
                                     .arg(named.size())
                                     .arg(quoted(wanted));
    return nullptr;
}
