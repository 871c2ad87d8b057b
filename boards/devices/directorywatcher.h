#pragma once

#include <string>
#include <vector>

// Watches a folder (Linux's inotify) for files whose names start with a
// prefix: device nodes that appear, change their permissions or go away.
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
    bool watching() const { return m_fd >= 0; }
    const std::string& error() const { return m_error; }
    // The descriptor to poll for changes to read.
    int descriptor() const { return m_fd; }
    // The matching files there now, sorted.
    std::vector<std::string> current() const;
    // The changes since the last call; none when nothing changed.
    std::vector<Change> changes();

private:
    std::string m_folder;
    std::string m_prefix;
    int m_fd = -1;
    std::string m_error;
};
