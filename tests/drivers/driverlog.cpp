#include "driverlog.h"

#include "driverplatform.h"

#include <mutex>

namespace {

std::mutex logMutex;
std::string logText;
std::string snapshot;

} // namespace

void DriverLog::record(const char* name, std::initializer_list<std::string> arguments,
                       const std::string& result)
{
    std::string line = name;
    line += '(';
    bool first = true;
    for (const std::string& argument : arguments) {
        if (!first)
            line += ", ";
        line += argument;
        first = false;
    }
    line += ')';
    if (!result.empty())
        line += " = " + result;
    std::lock_guard<std::mutex> guard(logMutex);
    logText += line + '\n';
}

// The calls recorded so far; the text stays valid until the next call.
NORVA_EXPORT const char* NORVA_API testDriverLog()
{
    std::lock_guard<std::mutex> guard(logMutex);
    snapshot = logText;
    return snapshot.c_str();
}

NORVA_EXPORT void NORVA_API testDriverClearLog()
{
    std::lock_guard<std::mutex> guard(logMutex);
    logText.clear();
}
