#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Text from a file, as a diagnostic may quote it: a file of random bytes
// must not send control sequences to the terminal, nor a long line fill it.
// Printable ASCII stays as it is, a backslash and every other byte become
// escapes (\\, \xNN), and more than `most` bytes are cut with "...".
inline std::string textExcerpt(std::string_view text, std::size_t most = 40)
{
    std::string excerpt;
    for (std::size_t i = 0; i < text.size() && i < most; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            excerpt += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            excerpt += char(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            excerpt += escape;
        }
    }
    if (text.size() > most)
        excerpt += "...";
    return excerpt;
}
