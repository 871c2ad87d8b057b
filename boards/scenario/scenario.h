#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the simulated boards are and what they send over time, read from the
// scenario text. Parsing is a pure function of the text: every malformed line
// becomes a diagnostic and is left out, the rest is kept. ScenarioParser
// reads the lines; the driver plays a scenario as it reads it
// (ScenarioReader), so that a huge one need not be held whole.
class Scenario
{
public:
    // A coordinate or size in board units. The varying kinds follow the
    // progress t of the innermost counted repeat: 0 in its first round, 1 in
    // its last.
    struct Value
    {
        enum class Kind
        {
            Constant,
            Ramp,
            Sin,
            Cos
        };
        Kind kind = Kind::Constant;
        double from = 0; // the constant, the ramp's start or the wave's centre
        double to = 0;   // the ramp's end or the wave's amplitude
        int turns = 1;   // full waves over the repeat

        uint16_t at(double t) const;
    };

    // One touch or eraser contact; a touch contact's size is its width.
    struct Contact
    {
        int id = 0;
        bool down = false;
        Value x, y, width, height;
    };

    struct Board
    {
        int number = 0;
        bool usable = true;
        bool plugged = true;
        std::string description;

        static int deviceOf(int number) { return 1000 + number; }
        int device() const { return deviceOf(number); }
    };

    enum class Op
    {
        Wait,
        WaitCallback,
        WaitFile,
        Raw,
        Pen,
        Touch,
        Eraser,
        Plug,
        Unplug,
        Repeat,
        Play
    };

    enum PenFlag : uint8_t
    {
        Tip = 0x01,
        Button = 0x02,
        Bit2 = 0x04
    };

    struct Command
    {
        Op op = Op::Wait;
        int line = 0;
        int board = 0;  // the board a packet goes to, or that is plugged or awaited
        int amount = 0; // milliseconds to wait, or rounds to repeat (Forever)
        bool prefixed = false;
        std::vector<uint8_t> bytes; // a raw packet
        std::string path;           // the file awaited, or the recording played
        double speed = 1;           // how much faster than recorded a recording plays
        int pen = 0;
        uint8_t penFlags = 0;
        Value x, y; // the pen's position
        std::vector<Contact> contacts;
        std::vector<Command> body; // what a repeat repeats

        // The packet that a Raw, Pen, Touch or Eraser command sends at progress t.
        std::vector<uint8_t> packet(double t) const;
    };

    struct Diagnostic
    {
        std::string file;
        int line = 0;
        std::string message;

        std::string text() const { return file + ":" + std::to_string(line) + ": " + message; }
    };

    static constexpr int Forever = -1;
    static constexpr int DefaultCallbackTimeoutMs = 10000;
    static constexpr int DefaultFileTimeoutMs = 60000;
    static constexpr std::size_t MaxDescriptionLength = 514;
    static constexpr double MinSpeed = 0.01;
    static constexpr double MaxSpeed = 10000;

    // More problems than this in one scenario are counted, not listed, when
    // the driver reports them.
    static constexpr std::size_t MaxDiagnostics = 20;

    // The diagnostics name the file and come in the order of the lines.
    static Scenario parse(const std::string& text, const std::string& file = "scenario");
    // The built-in demonstration: one board with a pen, two fingers and an eraser.
    static const char* demoText();

    std::vector<Board> boards;
    std::vector<Command> commands;
    std::vector<Diagnostic> diagnostics;
};
