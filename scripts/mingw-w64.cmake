# Cross compiling for Windows with Debian's mingw-w64. MINGW_TRIPLET in the
# environment picks the target: x86_64-w64-mingw32 (the default) or
# i686-w64-mingw32. Used by scripts/cross-windows.sh and
# scripts/build-windows.sh.
set(CMAKE_SYSTEM_NAME Windows)

set(triplet "$ENV{MINGW_TRIPLET}")
if(NOT triplet)
    set(triplet x86_64-w64-mingw32)
endif()
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${triplet}")

# The posix thread model: the standard library's threads and mutexes need it.
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

# The target's own libraries, and Qt for Windows where the build is given its
# folder (scripts/build-windows.sh).
set(CMAKE_FIND_ROOT_PATH /usr/${triplet} ${VISUALVIEW_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and libraries carry their runtime, so nothing else is shipped
# beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
