#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <memory>

typedef struct _UMockdevTestbed UMockdevTestbed;

// Input devices emulated by umockdev for the board library to read as real
// ones: each made from an evemu recording by evemu2umockdev.py (its device,
// the kernel's answers to libevdev and its events), added and removed while
// the library runs. The process must run under umockdev-wrapper; the
// programs it starts inherit the emulation.
//
// A device's node is a terminal that holds 4 kB: a reader held back longer
// than that lasts would get an event cut in two, which a real device never
// does. So the events are played here, a frame a write, at their times but
// never more than the terminal holds unread: a reader held back delays them
// instead. umockdev keeps no grabs: they are answered here, and counted.
class EmulatedDevices
{
public:
    EmulatedDevices();
    ~EmulatedDevices();
    EmulatedDevices(const EmulatedDevices&) = delete;
    EmulatedDevices& operator=(const EmulatedDevices&) = delete;

    // Whether this process runs under umockdev.
    static bool available();
    // The device node of number n: /dev/input/event<n>.
    static QString node(int number);

    // Adds /dev/input/event<number> made from the recording; options are the
    // converter's (--speed, --drop, ...). Empty when it is there, else why not.
    QString add(const QString& recording, int number, const QStringList& options = {});
    // Starts sending its events; a test starts them once the library has
    // opened the device. Empty when they play, else why not.
    QString play(int number);
    // Plays a script of umockdev's to its reader ("r <ms> <bytes>" lines:
    // bytes that are no whole events make a read error), once a node.
    // Empty when it plays, else why not.
    QString sendScript(int number, const QByteArray& script);
    // Unplugs it.
    void remove(int number);
    // Unplugs it and plugs it in again as /dev/input/event<to>, a node that
    // is free (umockdev 0.17 cannot add a node again once removed).
    bool move(int from, int to);
    // The root of the emulated /sys and /dev.
    QString root() const;

    // The grabs (EVIOCGRAB) asked of a device so far, in the whole process;
    // a device held elsewhere refuses them with EBUSY, as when another
    // program has grabbed it.
    static void holdElsewhere(int number);
    static int grabsAsked(int number);

    UMockdevTestbed* testbed() const { return m_testbed; }

private:
    class Player;
    void stop(int number);

    UMockdevTestbed* m_testbed = nullptr;
    std::map<int, std::unique_ptr<Player>> m_players;
    QTemporaryDir m_files;
};
