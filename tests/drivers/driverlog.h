#pragma once

#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>

// The call record that the test drivers keep, one line per entry-point call
// in the form name(arg, arg, ...)[ = result], read by the tests through the
// exported testDriverLog().
namespace DriverLog {

inline std::string number(long long value)
{
    return std::to_string(value);
}

inline std::string pointer(const void* address)
{
    std::ostringstream text;
    text << "0x" << std::hex << reinterpret_cast<std::uintptr_t>(address);
    return text.str();
}

// Callbacks are logged by address, like any other pointer.
template <typename Function> std::string functionPointer(Function function)
{
    return pointer(reinterpret_cast<const void*>(function));
}

inline std::string bytes(const uint8_t* data, long long length)
{
    if (data == nullptr)
        return "0x0";
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (long long i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

inline std::string text(const char* value)
{
    return value ? '"' + std::string(value) + '"' : "0x0";
}

// Appends one line; result is left out when empty.
void record(const char* name, std::initializer_list<std::string> arguments,
            const std::string& result = std::string());

} // namespace DriverLog
