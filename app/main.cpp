#include "visualviewdialog.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // Mouse and touch are visualised as what they are: neither may pose as
    // the other.
    QCoreApplication::setAttribute(Qt::AA_SynthesizeTouchForUnhandledMouseEvents, false);
    QCoreApplication::setAttribute(Qt::AA_SynthesizeMouseForUnhandledTouchEvents, false);
    VisualViewDialog dialog(nullptr);
    return dialog.exec();
}
