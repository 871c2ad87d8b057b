#include "directorywatcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

DirectoryWatcher::DirectoryWatcher(const std::string& folder, const std::string& prefix)
    : m_folder(folder), m_prefix(prefix)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Permissions change after a node is made, when udev gives it its group.
    if (m_fd >= 0 &&
        inotify_add_watch(m_fd, folder.c_str(),
                          IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
        close(m_fd);
        m_fd = -1;
    }
    if (m_fd < 0)
        m_error = std::strerror(errno);
}

DirectoryWatcher::~DirectoryWatcher()
{
    if (m_fd >= 0)
        close(m_fd);
}

std::vector<std::string> DirectoryWatcher::current() const
{
    std::vector<std::string> paths;
    DIR* dir = opendir(m_folder.c_str());
    if (!dir)
        return paths;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, m_prefix.size(), m_prefix) == 0)
            paths.push_back(m_folder + "/" + name);
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<DirectoryWatcher::Change> DirectoryWatcher::changes()
{
    std::vector<Change> changes;
    if (m_fd < 0)
        return changes;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            return changes;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= length;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const std::string name =
                event.len ? std::string(buffer + at + sizeof event) : std::string();
            at += ssize_t(sizeof event + event.len);
            if (name.empty() || name.compare(0, m_prefix.size(), m_prefix) != 0)
                continue;
            changes.push_back({m_folder + "/" + name, !(event.mask & (IN_DELETE | IN_MOVED_FROM)),
                               (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0});
        }
    }
}
