#include "visualviewdialog.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // One data folder (the board checks') whatever the program's file is
    // called, the demo's launcher included.
    QCoreApplication::setApplicationName(QStringLiteral("visualview"));
    // Mouse and touch are visualised as what they are: neither may pose as
    // the other.
    QCoreApplication::setAttribute(Qt::AA_SynthesizeTouchForUnhandledMouseEvents, false);
    QCoreApplication::setAttribute(Qt::AA_SynthesizeMouseForUnhandledTouchEvents, false);
    VisualViewDialog dialog(nullptr);
    return dialog.exec();
}
