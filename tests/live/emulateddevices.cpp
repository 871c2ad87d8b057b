// Before Qt, whose "signals" keyword would break GLib's headers.
#include <umockdev.h>

#include "emulateddevices.h"

#include <QFile>
#include <QProcess>

#include <cstdio>

namespace {

QString sysfsPath(int number)
{
    return QStringLiteral("/sys/devices/virtual/input/input%1").arg(number);
}

// Takes a GError's message and frees it.
QString take(GError* error)
{
    const QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    return message;
}

} // namespace

EmulatedDevices::EmulatedDevices() : m_testbed(umockdev_testbed_new()) {}

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
