#include "directorywatcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

bool startsWith(const std::string& name, const std::string& prefix)
{
    return name.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

DirectoryWatcher::DirectoryWatcher(const std::string& folder, const std::string& prefix)
    : m_folder(folder), m_prefix(prefix)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        m_error = std::strerror(errno);
    else if (watch(folder, prefix))
        m_first = m_watches.begin()->first;
}

DirectoryWatcher::~DirectoryWatcher()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool DirectoryWatcher::watch(const std::string& folder, const std::string& prefix)
{
    if (m_fd < 0)
        return false;
    // Permissions change after a node is made, when udev gives it its group.
    const int watch = inotify_add_watch(
        m_fd, folder.c_str(), IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM);
    if (watch < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    Watch& watched = m_watches[watch];
    watched.folder = folder;
    watched.prefixes.push_back(prefix);
    return true;
}

std::vector<std::string> DirectoryWatcher::current() const
{
    std::vector<std::string> paths;
    DIR* dir = opendir(m_folder.c_str());
    if (!dir)
        return paths;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (startsWith(name, m_prefix))
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
            const auto watched = m_watches.find(event.wd);
            if (watched == m_watches.end())
                continue;
            // The folder itself went away.
            if (event.mask & IN_IGNORED) {
                m_watches.erase(watched);
                continue;
            }
            const std::vector<std::string>& prefixes = watched->second.prefixes;
            if (name.empty() ||
                std::none_of(prefixes.begin(), prefixes.end(),
                             [&](const std::string& prefix) { return startsWith(name, prefix); }))
                continue;
            changes.push_back({watched->second.folder + "/" + name,
                               !(event.mask & (IN_DELETE | IN_MOVED_FROM)),
                               (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0});
        }
    }
}
