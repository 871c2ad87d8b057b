#pragma once

#include <string>
#include <vector>

// A JSON document written as it goes, indented by four spaces a level as
// Qt's indented documents are, for the measuring core's own reports: the
// core stays free of any library, and its reports need nothing but objects,
// arrays, text and numbers. Keys and values in the order given; the caller
// keeps the nesting right.
class JsonWriter
{
public:
    void beginObject(const char* key = nullptr);
    void endObject();
    void beginArray(const char* key = nullptr);
    void endArray();
    // Up to three decimals; a value that is not finite is null.
    void number(const char* key, double value);
    void integer(const char* key, long long value);
    void text(const char* key, const std::string& value);
    void null(const char* key);

    const std::string& document() const { return m_text; }

private:
    // A new member or element: the comma before it, its line and its key.
    void item(const char* key);
    void close(char bracket);

    std::string m_text;
    // Per open object or array, whether it has a member yet.
    std::vector<bool> m_filled;
};
