#include "session.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string_view>

namespace {

// How long after its callback a recording played alone starts: the
// visualiser's window comes up meanwhile, as with the demo.
constexpr int RecordingStartDelayMs = 700;
constexpr std::size_t OutlineBlockSize = 1 << 16;

// The boards of a scenario, found without parsing it whole: only the lines
// that declare boards or open or end repeats count, and the others are only
// looked at, a block at a time, so that this takes a moment even for a file
// of millions of lines. Missing for a recording.
std::optional<std::vector<Scenario::Board>> outline(std::istream& input)
{
    ScenarioParser parser({});
    Scenario::Command unused;
    int number = 0;
    const auto take = [&](std::string_view line) {
        if (Recording::isRecordingLine(line, number == 0))
            return false;
        ++number;
        if (ScenarioParser::mayShapeBoards(line))
            parser.parse(number, line, unused);
        return true;
    };
    std::vector<char> block(OutlineBlockSize);
    // A line that goes on into the next block.
    std::string started;
    while (input.read(block.data(), std::streamsize(block.size())) || input.gcount() > 0) {
        std::string_view rest(block.data(), std::size_t(input.gcount()));
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(end + 1)) {
            if (started.empty() && !take(rest.substr(0, end)))
                return std::nullopt;
            if (!started.empty()) {
                started.append(rest.substr(0, end));
                if (!take(started))
                    return std::nullopt;
                started.clear();
            }
        }
        started.append(rest);
    }
    if (!started.empty() && !take(started))
        return std::nullopt;
    return parser.boards();
}

} // namespace

bool Session::Invocation::blocks(int32_t device, const Callback& callback) const
{
    return active && this->device == device && this->callback == callback &&
           thread != std::this_thread::get_id();
}

void Session::loadScenario()
{
    const char* variable = std::getenv("NORVABOARD_SCENARIO");
    const std::string path = variable ? variable : "";
    if (path.empty())
        return;
    std::unique_ptr<std::istream> played, again;
    std::optional<std::vector<Scenario::Board>> outlined;
    if (path == "demo") {
        name = path;
        played = std::make_unique<std::istringstream>(Scenario::demoText());
        again = std::make_unique<std::istringstream>(Scenario::demoText());
        outlined = outline(*played);
    } else {
        // The system's reason why the file cannot be read, as the call that
        // failed left it.
        int failure = 0;
        if (std::error_code error; std::filesystem::is_regular_file(path, error)) {
            // Both opened now: the file that the boards come from is the one
            // played, whatever becomes of its path.
            errno = 0;
            played = std::make_unique<std::ifstream>(path, std::ios::binary);
            again = std::make_unique<std::ifstream>(path, std::ios::binary);
            failure = *played && *again ? 0 : errno;
        } else {
            // A pipe (NORVABOARD_SCENARIO=<(...)) can be read only once: it
            // is held.
            errno = 0;
            std::ifstream file(path, std::ios::binary);
            std::ostringstream text;
            if (file && text << file.rdbuf()) {
                played = std::make_unique<std::istringstream>(text.str());
                again = std::make_unique<std::istringstream>(text.str());
            } else {
                failure = errno;
            }
        }
        if (played && *played && *again) {
            errno = 0;
            outlined = outline(*played);
            failure = played->bad() ? errno : 0;
        }
        if (!played || !*again || played->bad() || (played->fail() && !played->eof())) {
            print("norvaboardex: cannot read the scenario " + path + ": " +
                  (failure != 0 ? std::strerror(failure) : "a read failed"));
            return;
        }
        if (outlined && !std::ifstream(Recording::descriptionPath(path)).good()) {
            const std::size_t slash = path.find_last_of("/\\");
            folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
            name = path;
        } else {
            outlined.reset();
        }
    }
    if (outlined) {
        played->clear();
        played->seekg(0);
        reader = std::make_unique<ScenarioReader>(std::move(played), name);
        checked = std::move(again);
        for (const Scenario::Board& declared : *outlined) {
            Board board;
            board.declared = declared;
            board.plugged = declared.plugged;
            boards.push_back(board);
        }
        return;
    }
    // A recording alone: one board described by the device, which plays
    // the recording once as soon as the visualiser is ready.
    name = path;
    Board board;
    board.declared.number = 1;
    board.declared.description = recording(path)->device.boardDescription();
    boards.push_back(board);
    Scenario::Command command;
    command.board = board.declared.number;
    command.op = Scenario::Op::WaitCallback;
    command.amount = Scenario::DefaultCallbackTimeoutMs;
    commands.push_back(command);
    command.op = Scenario::Op::Wait;
    command.amount = RecordingStartDelayMs;
    commands.push_back(command);
    command.op = Scenario::Op::Play;
    command.path = path;
    commands.push_back(command);
}

std::shared_ptr<const Recording> Session::recording(const std::string& path)
{
    const bool absolute =
        !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
    const std::string resolved = absolute ? path : folder + path;
    std::lock_guard<std::mutex> lock(recordingsMutex);
    auto& loaded = recordings[resolved];
    if (!loaded) {
        loaded = std::make_shared<const Recording>(Recording::load(resolved));
        for (const Recording::Diagnostic& diagnostic : loaded->diagnostics)
            print(diagnostic.text());
    }
    return loaded;
}

void Session::check()
{
    // A file of garbage is a problem on every line: the first ones tell
    // what is wrong, the rest are counted.
    std::size_t problems = 0;
    Scenario::Diagnostic firstUnlisted;
    ScenarioReader scenario(std::move(checked), name, [&](const Scenario::Diagnostic& diagnostic) {
        if (++problems <= Scenario::MaxDiagnostics)
            print(diagnostic.text());
        else if (problems == Scenario::MaxDiagnostics + 1)
            firstUnlisted = diagnostic;
    });
    Scenario::Command command;
    for (;;) {
        if (stopping)
            return;
        const ScenarioReader::Next next = scenario.next(command);
        if (next == ScenarioReader::Next::Finished)
            break;
        if (next == ScenarioReader::Next::Command && command.op == Scenario::Op::Play)
            recording(command.path);
    }
    scenario.finish();
    if (problems > Scenario::MaxDiagnostics) {
        firstUnlisted.message =
            std::to_string(problems - Scenario::MaxDiagnostics) + " more problems not listed";
        print(firstUnlisted.text());
    }
}

Session::Board* Session::plugged(int32_t device)
{
    for (Board& board : boards) {
        if (board.declared.device() == device)
            return board.plugged ? &board : nullptr;
    }
    return nullptr;
}

bool Session::setPlugged(Board& board, bool plugged)
{
    if (board.plugged == plugged)
        return false;
    board.plugged = plugged;
    board.callbacks.clear();
    board.contactsDown.clear();
    ++pnpPending;
    return true;
}

#ifdef NORVABOARD_LIVE_DEVICES
Session::Board* Session::liveBoard(const std::string& path)
{
    for (Board& board : boards) {
        if (board.plugged && board.livePath == path)
            return &board;
    }
    return nullptr;
}

Session::Board& Session::plugLive(const std::string& path, const InputDevice& device)
{
    // Node numbers are given again to other devices: a device is known by
    // what it says of itself, and phys tells apart two of the same model.
    Board* board = nullptr;
    for (Board& candidate : boards) {
        if (!candidate.plugged && !candidate.liveIdentity.empty() &&
            candidate.liveIdentity == device.identity() &&
            (!board || (candidate.livePhys == device.phys && board->livePhys != device.phys)))
            board = &candidate;
    }
    if (!board) {
        boards.emplace_back();
        board = &boards.back();
        board->declared.number = nextLiveNumber++;
        board->liveIdentity = device.identity();
    }
    board->livePath = path;
    board->livePhys = device.phys;
    board->declared.description = device.boardDescription();
    board->plugged = true;
    return *board;
}

bool Session::queueLive(const std::string& path, const std::vector<LiveBacklog::Packet>& packets,
                        bool down)
{
    Board* board = liveBoard(path);
    if (!board || stopping)
        return false;
    if (down)
        board->contactsDown.insert(Board::RecordedKey);
    else
        board->contactsDown.erase(Board::RecordedKey);
    const int32_t device = board->declared.device();
    const auto waiting =
        std::size_t(std::count_if(injected.begin(), injected.end(),
                                  [&](const auto& packet) { return packet.first == device; }));
    reportDropped(*board, waiting);
    for (LiveBacklog::Packet& packet : board->backlog.admit(packets, waiting))
        injected.emplace_back(device, std::move(packet));
    return true;
}

void Session::reportDropped(Board& board, std::size_t waiting)
{
    if (const std::size_t dropped = board.backlog.caughtUp(waiting))
        print("norvaboardex: " + board.livePath + ": " + std::to_string(dropped) +
              " packets dropped while the host did not keep up");
}
#endif

void Session::print(const std::string& line)
{
    std::cerr << line + '\n' << std::flush;
}
