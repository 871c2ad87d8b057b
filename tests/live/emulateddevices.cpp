// Before Qt, whose "signals" keyword would break GLib's headers.
#include <umockdev.h>

#include "emulateddevices.h"

#include <QFile>
#include <QMap>
#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include <linux/input.h>

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
    const QString events = m_files.filePath(QStringLiteral("event%1.events").arg(number));
    GError* error = nullptr;
    if (!umockdev_testbed_load_evemu_events(m_testbed, node(number).toUtf8().constData(),
                                            QFile::encodeName(events).constData(), &error))
        return take(error);
    return {};
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
