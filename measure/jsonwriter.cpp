#include "jsonwriter.h"

#include "decimaltext.h"

#include <cmath>
#include <cstdio>

namespace {

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

} // namespace

void JsonWriter::item(const char* key)
{
    if (!m_filled.empty()) {
        if (m_filled.back())
            m_text += ',';
        m_filled.back() = true;
        m_text += '\n' + std::string(4 * m_filled.size(), ' ');
    }
    if (key)
        m_text += quoted(key) + ": ";
}

void JsonWriter::close(char bracket)
{
    const bool filled = m_filled.back();
    m_filled.pop_back();
    if (filled)
        m_text += '\n' + std::string(4 * m_filled.size(), ' ');
    m_text += bracket;
    if (m_filled.empty())
        m_text += '\n';
}

void JsonWriter::beginObject(const char* key)
{
    item(key);
    m_text += '{';
    m_filled.push_back(false);
}

void JsonWriter::endObject()
{
    close('}');
}

void JsonWriter::beginArray(const char* key)
{
    item(key);
    m_text += '[';
    m_filled.push_back(false);
}

void JsonWriter::endArray()
{
    close(']');
}

void JsonWriter::number(const char* key, double value)
{
    item(key);
    m_text += std::isfinite(value) ? decimalText(value) : "null";
}

void JsonWriter::integer(const char* key, long long value)
{
    item(key);
    m_text += std::to_string(value);
}

void JsonWriter::text(const char* key, const std::string& value)
{
    item(key);
    m_text += quoted(value);
}

void JsonWriter::null(const char* key)
{
    item(key);
    m_text += "null";
}
