#pragma once

#include "inputdevice.h"

#include <string>
#include <string_view>
#include <vector>

// A recording of a Linux input device in evemu's text format: the device's
// description (N:, I:, P:, B: and A: lines, in the file or in a .desc file
// beside it, axis resolutions also from the '#' header) and its events
// (E: lines). Reading is a pure function of the text: a line that cannot be
// read becomes a diagnostic naming the file and line, and what is valid is
// kept.
class Recording
{
public:
    struct Diagnostic
    {
        std::string file;
        int line = 0;
        std::string message;

        std::string text() const { return file + ":" + std::to_string(line) + ": " + message; }
    };

    // More problems than this in one recording are counted, not listed: a
    // last diagnostic gives their number at the first of them.
    static constexpr std::size_t MaxDiagnostics = 20;

    InputDevice device;
    std::vector<InputDevice::Event> events;
    std::vector<Diagnostic> diagnostics;

    // Whether a text is a recording rather than a scenario.
    static bool isRecording(const std::string& text);
    // Whether this line of a text shows it to be a recording, so that a
    // text can be told apart a line at a time.
    static bool isRecordingLine(std::string_view line, bool first);
    // The description is read from descriptionText first, when there is one.
    static Recording parse(const std::string& text, const std::string& file,
                           const std::string& descriptionText = {},
                           const std::string& descriptionFile = {});
    // The .desc file of the same name beside a recording.
    static std::string descriptionPath(const std::string& path);
    // Reads the file and the .desc beside it, if there is one; a file that
    // cannot be read gives a diagnostic.
    static Recording load(const std::string& path);
};
