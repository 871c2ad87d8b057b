#include "recording.h"

#include "textexcerpt.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>

using namespace InputCode;

namespace {

constexpr int64_t MicrosecondsPerSecond = 1000000;
constexpr std::size_t MicrosecondDigits = 6;

// The words of a line, into a list that is used again for every line: a
// recording has tens of thousands.
const std::vector<std::string_view>& words(std::string_view text,
                                           std::vector<std::string_view>& result)
{
    result.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r')
            ++i;
        if (i > start)
            result.push_back(text.substr(start, i - start));
    }
    return result;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Decimal values may have leading zeros ("-012" is minus twelve); hex ones
// have no "0x".
template <typename Number> std::optional<Number> number(std::string_view text, int base)
{
    Number value{};
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

// What a message quotes of the file, in quotes.
std::string quoted(std::string_view text)
{
    return "'" + textExcerpt(text) + "'";
}

std::string hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

class Reader
{
public:
    explicit Reader(Recording& recording) : m_recording(recording) {}

    void read(const std::string& text, const std::string& file, bool descriptionOnly);
    void finish();

private:
    void line(std::string_view text);
    void header(std::string_view text);
    void identity(const std::vector<std::string_view>& fields);
    void bits(const std::vector<std::string_view>& fields, bool properties);
    void axis(const std::vector<std::string_view>& fields);
    void event(std::string_view text);
    void fail(const std::string& message);

    Recording& m_recording;
    std::string m_file;
    int m_line = 0;
    bool m_descriptionOnly = false;
    bool m_described = false;
    std::size_t m_failures = 0;
    // Where the problems that are only counted start.
    Recording::Diagnostic m_firstUnlisted;
    // Bytes of each bit mask read so far: B: and P: lines continue a mask.
    std::map<int, std::size_t> m_maskBytes;
    // The '#' header's section and resolutions.
    int m_headerType = -1;
    int m_headerCode = -1;
    std::map<uint16_t, int32_t> m_headerResolutions;
    std::set<uint16_t> m_reportedAxes;
    bool m_reportedOrder = false;
    std::vector<std::string_view> m_words;
};

void Reader::read(const std::string& text, const std::string& file, bool descriptionOnly)
{
    m_file = file;
    m_line = 0;
    m_descriptionOnly = descriptionOnly;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++m_line;
        line(std::string_view(text).substr(start, end - start));
        start = end + 1;
    }
}

void Reader::finish()
{
    InputDevice& device = m_recording.device;
    for (auto& [code, axis] : device.axes) {
        const auto found = m_headerResolutions.find(code);
        if (axis.resolution == 0 && found != m_headerResolutions.end())
            axis.resolution = found->second;
    }
    // A recording that starts in the middle of something (a pen already in
    // range, a finger already down) first releases what it never pressed.
    std::set<uint16_t> seen;
    for (const InputDevice::Event& event : m_recording.events) {
        if (event.type != EvKey || !seen.insert(event.code).second)
            continue;
        if (event.value == 0)
            device.initialKeys.insert(event.code);
    }
    if (m_failures > Recording::MaxDiagnostics) {
        m_firstUnlisted.message =
            std::to_string(m_failures - Recording::MaxDiagnostics) + " more problems not listed";
        m_recording.diagnostics.push_back(m_firstUnlisted);
    }
}

void Reader::fail(const std::string& message)
{
    if (++m_failures <= Recording::MaxDiagnostics)
        m_recording.diagnostics.push_back({m_file, m_line, message});
    else if (m_failures == Recording::MaxDiagnostics + 1)
        m_firstUnlisted = {m_file, m_line, {}};
}

void Reader::line(std::string_view text)
{
    text = trimmed(text);
    if (text.empty())
        return;
    if (text[0] == '#')
        return header(text.substr(1));
    if (text.size() < 2 || text[1] != ':')
        return fail("not a line of a recording: " + quoted(text));
    const char kind = text[0];
    const std::vector<std::string_view>& fields = words(text.substr(2), m_words);
    switch (kind) {
    case 'N':
        m_recording.device.name = std::string(trimmed(text.substr(2)));
        m_described = true;
        return;
    case 'I':
        return identity(fields);
    case 'P':
        return bits(fields, true);
    case 'B':
        return bits(fields, false);
    case 'A':
        return axis(fields);
    case 'L':
    case 'S':
        // LED and switch states: nothing a board has.
        return;
    case 'E':
        if (m_descriptionOnly)
            return fail("an event in a device description");
        return event(text.substr(2));
    default:
        return fail(std::string("unknown line type '") + kind + ":'");
    }
}

void Reader::header(std::string_view text)
{
    const std::vector<std::string_view>& fields = words(text, m_words);
    if (fields.size() >= 3 && fields[0] == "Event" && fields[1] == "type") {
        m_headerType = number<int>(fields[2], 10).value_or(-1);
        m_headerCode = -1;
    } else if (fields.size() >= 3 && fields[0] == "Event" && fields[1] == "code") {
        m_headerCode = number<int>(fields[2], 10).value_or(-1);
    } else if (fields.size() == 2 && fields[0] == "Resolution" && m_headerType == EvAbs &&
               m_headerCode >= 0 && m_headerCode <= AbsMax) {
        if (const auto resolution = number<int32_t>(fields[1], 10))
            m_headerResolutions[uint16_t(m_headerCode)] = *resolution;
    }
}

void Reader::identity(const std::vector<std::string_view>& fields)
{
    uint16_t values[4] = {};
    if (fields.size() != 4)
        return fail("usage: I: <bus> <vendor> <product> <version> in hex");
    for (std::size_t i = 0; i < 4; ++i) {
        const auto value = number<uint16_t>(fields[i], 16);
        if (!value)
            return fail(quoted(fields[i]) + " is not a 16-bit hex number");
        values[i] = *value;
    }
    InputDevice& device = m_recording.device;
    device.bus = values[0];
    device.vendor = values[1];
    device.product = values[2];
    device.version = values[3];
    m_described = true;
}

void Reader::bits(const std::vector<std::string_view>& fields, bool properties)
{
    if (fields.size() < (properties ? 1u : 2u))
        return fail(properties ? "usage: P: <bytes in hex>" : "usage: B: <type> <bytes in hex>");
    const auto type = properties ? std::optional<uint8_t>(0) : number<uint8_t>(fields[0], 16);
    if (!type || *type > EvMax)
        return fail(quoted(fields[0]) + " is not an event type");
    const int mask = properties ? -1 : *type;
    const uint16_t limit = properties ? InputPropMax : *type == EvAbs ? AbsMax : KeyMax;
    std::size_t& offset = m_maskBytes[mask];
    for (std::size_t i = properties ? 0 : 1; i < fields.size(); ++i, ++offset) {
        const auto byte = number<uint8_t>(fields[i], 16);
        if (!byte)
            return fail(quoted(fields[i]) + " is not a hex byte");
        for (int bit = 0; bit < 8; ++bit) {
            const std::size_t code = offset * 8 + std::size_t(bit);
            if (!(*byte & (1 << bit)))
                continue;
            if (code > limit)
                return fail("code " + std::to_string(code) + " is out of range");
            if (properties)
                m_recording.device.properties.insert(uint16_t(code));
            else if (*type != EvSyn)
                m_recording.device.enable(*type, uint16_t(code));
        }
    }
    m_described = true;
}

void Reader::axis(const std::vector<std::string_view>& fields)
{
    if (fields.size() != 5 && fields.size() != 6)
        return fail("usage: A: <code in hex> <min> <max> <fuzz> <flat> [<resolution>]");
    const auto code = number<uint16_t>(fields[0], 16);
    if (!code || *code > AbsMax)
        return fail(quoted(fields[0]) + " is not an axis");
    int32_t values[5] = {};
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const auto value = number<int32_t>(fields[i], 10);
        if (!value)
            return fail(quoted(fields[i]) + " is not a whole number");
        values[i - 1] = *value;
    }
    if (values[0] > values[1])
        return fail("axis " + hex(*code) + " has its minimum above its maximum");
    InputDevice& device = m_recording.device;
    device.axes[*code] = {values[0], values[1], values[2], values[3], values[4]};
    device.enable(EvAbs, *code);
    m_described = true;
}

void Reader::event(std::string_view text)
{
    const std::size_t comment = text.find('#');
    const std::vector<std::string_view>& fields = words(text.substr(0, comment), m_words);
    if (fields.size() != 4)
        return fail("usage: E: <seconds>.<microseconds> <type> <code> <value>");
    const std::size_t dot = fields[0].find('.');
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : fields[0].substr(dot + 1);
    const auto seconds = number<int64_t>(fields[0].substr(0, dot), 10);
    const auto micro = number<int64_t>(fraction, 10);
    if (!seconds || *seconds < 0 || !micro || *micro < 0 || fraction.size() > MicrosecondDigits ||
        *seconds > INT64_MAX / MicrosecondsPerSecond - 1)
        return fail(quoted(fields[0]) + " is not a time in seconds.microseconds");
    const auto type = number<uint16_t>(fields[1], 16);
    const auto code = number<uint16_t>(fields[2], 16);
    const auto value = number<int32_t>(fields[3], 10);
    if (!type || *type > EvMax)
        return fail(quoted(fields[1]) + " is not an event type");
    if (!code || *code > KeyMax)
        return fail(quoted(fields[2]) + " is not an event code");
    if (!value)
        return fail(quoted(fields[3]) + " is not a 32-bit whole number");
    if (!m_described) {
        if (!m_reportedOrder)
            fail("an event before the device description (events are left out until there "
                 "is one)");
        m_reportedOrder = true;
        return;
    }
    if (*type == EvAbs && !m_recording.device.axis(*code)) {
        if (m_reportedAxes.insert(*code).second)
            fail("axis " + hex(*code) + " is not described (its events are left out)");
        return;
    }
    int64_t scale = 1;
    for (std::size_t i = fraction.size(); i < MicrosecondDigits; ++i)
        scale *= 10;
    m_recording.events.push_back(
        {*seconds * MicrosecondsPerSecond + *micro * scale, *type, *code, *value, m_line});
}

bool readFile(const std::string& path, std::string& text)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

} // namespace

bool Recording::isRecording(const std::string& text)
{
    std::istringstream lines(text);
    bool first = true;
    for (std::string line; std::getline(lines, line); first = false) {
        if (isRecordingLine(line, first))
            return true;
    }
    return false;
}

bool Recording::isRecordingLine(std::string_view line, bool first)
{
    if (first && startsWith(line, "# EVEMU"))
        return true;
    // N:, I:, B:, A: or E:, looked for in every line of a scenario that may
    // have millions.
    return line.size() >= 2 && line[1] == ':' &&
           std::string_view("NIBAE").find(line[0]) != std::string_view::npos;
}

Recording Recording::parse(const std::string& text, const std::string& file,
                           const std::string& descriptionText, const std::string& descriptionFile)
{
    Recording recording;
    Reader reader(recording);
    if (!descriptionFile.empty())
        reader.read(descriptionText, descriptionFile, true);
    reader.read(text, file, false);
    reader.finish();
    return recording;
}

std::string Recording::descriptionPath(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (extension ? path.substr(0, dot) : path) + ".desc";
}

Recording Recording::load(const std::string& path)
{
    std::string text;
    if (!readFile(path, text)) {
        Recording recording;
        recording.diagnostics.push_back({path, 0, "cannot read the recording"});
        return recording;
    }
    const std::string descPath = descriptionPath(path);
    std::string description;
    if (descPath != path && readFile(descPath, description))
        return parse(text, path, description, descPath);
    return parse(text, path);
}
