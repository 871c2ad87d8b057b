#include "fileidentity.h"

#include <QFile>

// Platform-specific, as is the watching of Ctrl+C.
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

std::optional<FileIdentity> FileIdentity::of(const QString& path)
{
    // No access asked: any file can be looked at, even one open elsewhere.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!known)
        return std::nullopt;
    FileIdentity identity;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return identity;
}

#else

#include <sys/stat.h>

std::optional<FileIdentity> FileIdentity::of(const QString& path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    FileIdentity identity;
    identity.volume = quint64(status.st_dev);
    identity.index = quint64(status.st_ino);
    return identity;
}

#endif
