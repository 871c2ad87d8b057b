#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Which file a path names, as the file system tells files apart: the same
// for every name of one file (links, relative and absolute paths), unlike
// the names themselves.
class FileIdentity
{
public:
    // None when there is no such file or it cannot be looked at.
    static std::optional<FileIdentity> of(const QString& path);

    bool operator==(const FileIdentity& other) const
    {
        return volume == other.volume && index == other.index;
    }

private:
    // The device or volume, and the file's number on it.
    quint64 volume = 0;
    quint64 index = 0;
};
