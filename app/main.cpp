#include "commandline.h"
#include "visualviewdialog.h"

#include <QApplication>

#include <iostream>

namespace {

int wrongCommandLine(const QString& problem)
{
    std::cerr << "visualview: " << problem.toStdString() << std::endl;
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine(arguments);
    switch (commandLine.action()) {
    case CommandLine::Action::Help:
        std::cout << CommandLine::help().toStdString() << std::flush;
        return 0;
    case CommandLine::Action::Version:
        std::cout << CommandLine::version().toStdString() << std::endl;
        return 0;
    case CommandLine::Action::Wrong:
        return wrongCommandLine(commandLine.error());
    case CommandLine::Action::Run:
    case CommandLine::Action::ListScreens:
        break;
    }
    const QString noDisplay = commandLine.missingDisplay();
    if (!noDisplay.isEmpty()) {
        std::cerr << "visualview: " << noDisplay.toStdString() << std::endl;
        return 1;
    }

    QApplication application(argc, argv);
    // One data folder (the board checks') whatever the program's file is
    // called, the demo's launcher included.
    QCoreApplication::setApplicationName(QStringLiteral("visualview"));
    // Mouse and touch are visualised as what they are: neither may pose as
    // the other.
    QCoreApplication::setAttribute(Qt::AA_SynthesizeTouchForUnhandledMouseEvents, false);
    QCoreApplication::setAttribute(Qt::AA_SynthesizeMouseForUnhandledTouchEvents, false);
    if (commandLine.action() == CommandLine::Action::ListScreens) {
        std::cout << CommandLine::screenList().toStdString() << std::flush;
        return 0;
    }
    QScreen* screen = nullptr;
    if (!commandLine.screen().isEmpty()) {
        QString problem;
        screen = CommandLine::findScreen(commandLine.screen(), &problem);
        if (screen == nullptr)
            return wrongCommandLine(QStringLiteral("%1 %2: %3; the screens are:\n%4")
                                        .arg(commandLine.screenOrigin(), commandLine.screen(),
                                             problem, CommandLine::screenList().trimmed()));
    }
    VisualViewDialog dialog(nullptr, screen);
    return dialog.exec();
}
