#pragma once

#include <QString>

#include <iostream>
#include <sstream>

// Captures standard output, where the adapter writes its progress lines,
// while it lives.
class StdoutCapture
{
public:
    StdoutCapture() : previous(std::cout.rdbuf(buffer.rdbuf())) {}
    ~StdoutCapture() { std::cout.rdbuf(previous); }
    QString text() const { return QString::fromStdString(buffer.str()); }

private:
    std::ostringstream buffer;
    std::streambuf* previous;
};
