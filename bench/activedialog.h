#pragma once

#include "visualviewdialog.h"

#include <QScreen>
#include <QTest>

#include <iostream>
#include <memory>
#include <sstream>

// The dialog over its whole screen, active, as the program shows it; null if
// it never became active. Its progress lines are not part of a measurement.
inline std::unique_ptr<VisualViewDialog> activeDialog()
{
    std::ostringstream quiet;
    std::streambuf* stdoutBuffer = std::cout.rdbuf(quiet.rdbuf());
    auto dialog = std::make_unique<VisualViewDialog>();
    std::cout.rdbuf(stdoutBuffer);
    dialog->setGeometry(dialog->screen()->geometry());
    if (!QTest::qWaitForWindowActive(dialog.get()))
        return nullptr;
    return dialog;
}
