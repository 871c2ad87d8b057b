# Sourced by the shell tests that replay the recordings of real devices, the
# counterpart of recordings.h: the folder is kept outside the project, so a
# plain clone has none.

# require_recordings <folder>: without the folder, skips the test (77, CTest's
# status for a skip), or fails it where CI is set, so that CI never passes
# without having replayed them.
require_recordings() {
    [ -d "$1" ] && return
    local missing="no recordings of real devices in $1: configure with VISUALVIEW_RECORDINGS set to their folder"
    if [ -n "${CI:-}" ]; then
        echo "FAIL: $missing" >&2
        exit 1
    fi
    echo "SKIP: $missing"
    exit 77
}
