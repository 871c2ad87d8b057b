#pragma once

#include <QString>
#include <QStringList>

class QScreen;

// The visualiser's command line, read before Qt's application object exists,
// so that asking for help, the version or a wrong option opens no window and
// loads no driver. Qt's own options (-platform, -display, -style and the
// rest that QGuiApplication and QApplication take) are let through for the
// application object to take.
class CommandLine
{
public:
    enum class Action
    {
        Run,
        Help,
        Version,
        ListScreens,
        // A wrong command line: error() says what was typed.
        Wrong
    };

    // The arguments after the program's name, as typed.
    explicit CommandLine(const QStringList& arguments);

    Action action() const { return todo; }
    QString error() const { return wrong; }
    // The screen asked for by --screen, else by VISUALVIEW_SCREEN: a number
    // as screenList() gives it, or a name. Empty for the window system's
    // choice.
    QString screen() const { return wantedScreen; }
    // Where screen() came from, to name it in a message.
    QString screenOrigin() const { return wantedScreenFrom; }
    // Why no window can be shown, before Qt is asked for a display: on Linux,
    // where no display and no platform other than X11's is named. Empty
    // where there may be one.
    QString missingDisplay() const;

    static QString help();
    // "visualview <the project's version>".
    static QString version();
    // One line per screen, in Qt's order: its number (from 1), name,
    // geometry, physical size, and whether it is the primary one. Needs the
    // application object.
    static QString screenList();
    // The screen that `wanted` names by number or, where no two screens
    // share it, by name; else null, with *problem saying why.
    static QScreen* findScreen(const QString& wanted, QString* problem);

private:
    Action todo = Action::Run;
    QString wrong;
    QString wantedScreen;
    QString wantedScreenFrom;
    // As given to Qt: -platform's value, and whether -display was given.
    QString platform;
    bool displayNamed = false;
};
