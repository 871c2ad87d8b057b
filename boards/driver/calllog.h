#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

// The file named by NORVABOARD_LOG, to which every entry-point call is
// appended as one line, flushed at once.
class CallLog
{
public:
    // One call, written as name(arg, arg, ...)[ = result].
    class Line
    {
    public:
        explicit Line(const char* name) : m_text(name) { m_text += '('; }

        Line& arg(long long value);
        Line& arg(const void* pointer);
        // A buffer in hex, exactly length bytes long; a null buffer as 0x0.
        Line& bytes(const void* buffer, long long length);
        std::string text() const { return m_text + ')'; }
        std::string text(long long result) const { return text() + " = " + std::to_string(result); }

    private:
        void separate();

        std::string m_text;
        bool m_first = true;
    };

    CallLog() = default;
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;
    ~CallLog();

    // Reads NORVABOARD_LOG again; unset or empty means no log.
    void configure();
    // Configures first if nothing was configured yet.
    void write(const std::string& line);

private:
    void configureLocked();

    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_configured = false;
};
