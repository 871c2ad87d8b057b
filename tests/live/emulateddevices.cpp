// Before Qt, whose "signals" keyword would break GLib's headers.
#include <umockdev.h>

#include "emulateddevices.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QString sysfsPath(int number)
{
    return QStringLiteral("/sys/devices/virtual/input/input%1").arg(number);
}

// The grabs asked of each emulated device, by node, and those held by
// another program. umockdev answers on a thread of its own.
struct Grabs
{
    int asked = 0;
    bool elsewhere = false;
};
std::mutex grabMutex;
QMap<QString, Grabs> grabs;

gboolean answerGrab(UMockdevIoctlClient* client, gpointer)
{
    if (umockdev_ioctl_client_get_request(client) != EVIOCGRAB)
        return FALSE;
    std::lock_guard<std::mutex> lock(grabMutex);
    Grabs& device = grabs[QString::fromUtf8(umockdev_ioctl_client_get_devnode(client))];
    ++device.asked;
    umockdev_ioctl_client_complete(client, device.elsewhere ? -1 : 0, device.elsewhere ? EBUSY : 0);
    return TRUE;
}

// Every reader that opens an emulated node is a client of umockdev's.
gboolean clientConnected(GSignalInvocationHint*, guint, const GValue* values, gpointer)
{
    g_signal_connect(g_value_get_object(&values[1]), "handle-ioctl", G_CALLBACK(answerGrab),
                     nullptr);
    return TRUE;
}

// Takes a GError's message and frees it.
QString take(GError* error)
{
    const QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    return message;
}

} // namespace

// Plays a device's frames into its terminal: each at its time, or once the
// reader has taken enough of what came before.
class EmulatedDevices::Player
{
public:
    struct Frame
    {
        std::chrono::microseconds due;
        QByteArray bytes;
    };

    // The terminal's other end (umockdev's) and the node's own, opened here
    // only to ask how much is unread.
    Player(std::vector<Frame> frames, int terminal, int unread)
        : m_frames(std::move(frames)), m_terminal(terminal), m_unread(unread),
          m_thread([this] { run(); })
    {
    }
    ~Player()
    {
        m_stopping = true;
        m_thread.join();
        ::close(m_unread);
    }

private:
    // Well within the 4095 bytes that the terminal holds.
    static constexpr int Room = 3072;

    void run()
    {
        using namespace std::chrono;
        const auto start = steady_clock::now();
        for (const Frame& frame : m_frames) {
            while (!m_stopping && steady_clock::now() < start + frame.due)
                std::this_thread::sleep_for(std::min<steady_clock::duration>(
                    start + frame.due - steady_clock::now(), milliseconds(50)));
            int unread = 0;
            while (!m_stopping && ::ioctl(m_unread, FIONREAD, &unread) == 0 &&
                   unread + frame.bytes.size() > Room)
                std::this_thread::sleep_for(milliseconds(1));
            for (qsizetype written = 0; !m_stopping && written < frame.bytes.size();) {
                const ssize_t n = ::write(m_terminal, frame.bytes.constData() + written,
                                          size_t(frame.bytes.size() - written));
                if (n < 0 && errno != EINTR && errno != EAGAIN)
                    return;
                if (n > 0)
                    written += n;
                else
                    std::this_thread::sleep_for(milliseconds(1));
            }
        }
    }

    const std::vector<Frame> m_frames;
    const int m_terminal;
    const int m_unread;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

EmulatedDevices::EmulatedDevices() : m_testbed(umockdev_testbed_new())
{
    static const gulong hook = [] {
        const GType type = umockdev_ioctl_base_get_type();
        g_type_class_ref(type);
        return g_signal_add_emission_hook(g_signal_lookup("client-connected", type), 0,
                                          clientConnected, nullptr, nullptr);
    }();
    Q_UNUSED(hook);
    std::lock_guard<std::mutex> lock(grabMutex);
    grabs.clear();
}

EmulatedDevices::~EmulatedDevices()
{
    m_players.clear();
    g_object_unref(m_testbed);
}

bool EmulatedDevices::available()
{
    // umockdev_in_mock_environment() says no under umockdev-wrapper as well.
    return qEnvironmentVariable("LD_PRELOAD").contains(QStringLiteral("libumockdev-preload"));
}

QString EmulatedDevices::node(int number)
{
    return QStringLiteral("/dev/input/event%1").arg(number);
}

QString EmulatedDevices::add(const QString& recording, int number, const QStringList& options)
{
    const QString prefix = m_files.filePath(QStringLiteral("event%1").arg(number));
    QProcess converter;
    converter.start(QStringLiteral("python3"),
                    QStringList{QStringLiteral(EVEMU2UMOCKDEV), recording, prefix,
                                QStringLiteral("--node"), QString::number(number)} +
                        options);
    if (!converter.waitForFinished(60000) || converter.exitStatus() != QProcess::NormalExit ||
        converter.exitCode() != 0)
        return QString::fromUtf8(converter.readAllStandardError()).trimmed();
    // The answers first: the library opens a node as soon as it appears.
    const QByteArray device = node(number).toUtf8();
    GError* error = nullptr;
    if (!umockdev_testbed_load_ioctl(m_testbed, device.constData(),
                                     QFile::encodeName(prefix + ".ioctl").constData(), &error) ||
        !umockdev_testbed_add_from_file(
            m_testbed, QFile::encodeName(prefix + ".umockdev").constData(), &error))
        return take(error);
    return {};
}

QString EmulatedDevices::play(int number)
{
    // The converter's lines, "E: <seconds> <type> <code> <value>", a frame
    // ending at each SYN_REPORT or SYN_DROPPED.
    QFile file(m_files.filePath(QStringLiteral("event%1.events").arg(number)));
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    std::vector<Player::Frame> frames;
    QByteArray frame;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 5 || fields[0] != "E:")
            continue;
        const qint64 micros = qRound64(fields[1].toDouble() * 1e6);
        input_event event{};
        event.input_event_sec = micros / 1000000;
        event.input_event_usec = micros % 1000000;
        event.type = fields[2].toUShort(nullptr, 16);
        event.code = fields[3].toUShort(nullptr, 16);
        event.value = fields[4].toInt();
        frame.append(reinterpret_cast<const char*>(&event), sizeof event);
        if (event.type == EV_SYN && (event.code == SYN_REPORT || event.code == SYN_DROPPED)) {
            frames.push_back({std::chrono::microseconds(micros), frame});
            frame.clear();
        }
    }
    if (!frame.isEmpty())
        frames.push_back(
            {frames.empty() ? std::chrono::microseconds(0) : frames.back().due, frame});
    const QByteArray device = node(number).toUtf8();
    const int terminal = umockdev_testbed_get_dev_fd(m_testbed, device.constData());
    const QString other = QFileInfo(root() + node(number)).symLinkTarget();
    const int unread =
        ::open(QFile::encodeName(other).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (terminal < 0 || unread < 0) {
        if (unread >= 0)
            ::close(unread);
        return QStringLiteral("%1 is no terminal to play into").arg(node(number));
    }
    stop(number);
    m_players[number] = std::make_unique<Player>(std::move(frames), terminal, unread);
    return {};
}

void EmulatedDevices::stop(int number)
{
    m_players.erase(number);
}

QString EmulatedDevices::sendScript(int number, const QByteArray& script)
{
    const QString path = m_files.filePath(QStringLiteral("event%1.script").arg(number));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return file.errorString();
    file.close();
    GError* error = nullptr;
    if (!umockdev_testbed_load_script(m_testbed, node(number).toUtf8().constData(),
                                      QFile::encodeName(path).constData(), &error))
        return take(error);
    return {};
}

void EmulatedDevices::remove(int number)
{
    stop(number);
    const QByteArray path = sysfsPath(number).toUtf8();
    umockdev_testbed_remove_device(m_testbed,
                                   (path + "/event" + QByteArray::number(number)).constData());
    umockdev_testbed_remove_device(m_testbed, path.constData());
}

bool EmulatedDevices::move(int from, int to)
{
    // What umockdev leaves of a removed node is replaced. The node last: the
    // library opens it as soon as it appears.
    const QString base = root();
    const auto rename = [&](const QString& pattern) {
        return std::rename(QFile::encodeName(base + pattern.arg(from)).constData(),
                           QFile::encodeName(base + pattern.arg(to)).constData()) == 0;
    };
    return rename(QStringLiteral("/dev/.node/input_event%1")) &&
           rename(QStringLiteral("/ioctl/dev/input/event%1")) &&
           rename(QStringLiteral("/dev/input/event%1"));
}

QString EmulatedDevices::root() const
{
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    const QString path = QString::fromUtf8(root);
    g_free(root);
    return path;
}

void EmulatedDevices::holdElsewhere(int number)
{
    std::lock_guard<std::mutex> lock(grabMutex);
    grabs[node(number)].elsewhere = true;
}

int EmulatedDevices::grabsAsked(int number)
{
    std::lock_guard<std::mutex> lock(grabMutex);
    return grabs.value(node(number)).asked;
}
