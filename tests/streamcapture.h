#pragma once

#include <QString>

#include <iostream>
#include <sstream>

// Captures what is written to a standard stream while it lives.
class StreamCapture
{
public:
    explicit StreamCapture(std::ostream& stream)
        : stream(stream), previous(stream.rdbuf(buffer.rdbuf()))
    {
    }
    ~StreamCapture() { stream.rdbuf(previous); }
    QString text() const { return QString::fromStdString(buffer.str()); }

private:
    std::ostream& stream;
    std::ostringstream buffer;
    std::streambuf* previous;
};
