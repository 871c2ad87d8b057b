#include "calllog.h"

#include <cstdlib>

CallLog::Line& CallLog::Line::arg(long long value)
{
    separate();
    m_text += std::to_string(value);
    return *this;
}

CallLog::Line& CallLog::Line::arg(const void* pointer)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    separate();
    m_text += text;
    return *this;
}

CallLog::Line& CallLog::Line::bytes(const void* buffer, long long length)
{
    if (!buffer || length < 0)
        return arg(buffer);
    static const char digits[] = "0123456789abcdef";
    separate();
    const auto* byte = static_cast<const unsigned char*>(buffer);
    for (long long i = 0; i < length; ++i) {
        m_text += digits[byte[i] >> 4];
        m_text += digits[byte[i] & 0x0F];
    }
    return *this;
}

void CallLog::Line::separate()
{
    if (!m_first)
        m_text += ", ";
    m_first = false;
}

CallLog::~CallLog()
{
    if (m_file)
        std::fclose(m_file);
}

void CallLog::configure()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    configureLocked();
}

void CallLog::write(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_configured)
        configureLocked();
    if (!m_file)
        return;
    std::fputs(line.c_str(), m_file);
    std::fputc('\n', m_file);
    std::fflush(m_file);
}

void CallLog::configureLocked()
{
    m_configured = true;
    const char* variable = std::getenv("NORVABOARD_LOG");
    const std::string path = variable ? variable : "";
    if (m_file && path == m_path)
        return;
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_path = path;
    if (path.empty())
        return;
    m_file = std::fopen(path.c_str(), "a");
    if (!m_file)
        std::fprintf(stderr, "norvaboardex: cannot open the call log %s\n", path.c_str());
}
