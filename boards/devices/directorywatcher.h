#pragma once

#include <map>
#include <string>
#include <vector>

// Watches folders (Linux's inotify) for files whose names start with a
// prefix: device nodes that appear, change their permissions or go away,
// and the links and folders that lead to them.
class DirectoryWatcher
{
public:
    struct Change
    {
        std::string path;
        // False when the file went away.
        bool present = false;
        // True when it came; a file present that did not come had its
        // attributes changed.
        bool appeared = false;
    };

    DirectoryWatcher(const std::string& folder, const std::string& prefix);
    ~DirectoryWatcher();
    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    // False, with the reason in error(), when the folder cannot be watched.
    bool watching() const { return m_watches.count(m_first) != 0; }
    const std::string& error() const { return m_error; }
    // Watches another folder too, or the same for another prefix; false,
    // with the reason in error(), when it cannot be. A folder that goes away
    // is no longer watched, also when it comes back.
    bool watch(const std::string& folder, const std::string& prefix);
    // The descriptor to poll for changes to read.
    int descriptor() const { return m_fd; }
    // The files of the first folder there now whose names start with its
    // prefix, sorted.
    std::vector<std::string> current() const;
    // The changes since the last call; none when nothing changed.
    std::vector<Change> changes();

private:
    struct Watch
    {
        std::string folder;
        std::vector<std::string> prefixes;
    };

    std::string m_folder;
    std::string m_prefix;
    int m_fd = -1;
    int m_first = -1;
    std::map<int, Watch> m_watches;
    std::string m_error;
};
