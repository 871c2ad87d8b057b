#pragma once

// Everything that differs between Windows and the other systems when the
// board driver library is loaded: the module handle, the calling conventions
// and loading, resolving and freeing the library. Nothing else in the code
// knows the platform.

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

// Entry points: the callee removes its arguments. Callbacks: the caller does.
#define NORVA_API __stdcall
#define NORVA_CALLBACK __cdecl
// How a driver library (the simulated board, the test drivers) exports an
// entry point; on 32-bit Windows it links with --kill-at so that the names
// stay undecorated for GetProcAddress.
#define NORVA_EXPORT extern "C" __declspec(dllexport)

namespace DriverPlatform {

using ModuleHandle = HMODULE;
// The generic function pointer type that every entry point is resolved to.
using Procedure = void (*)();

constexpr const char* LibraryName = "libnorvaboardex.dll";

inline std::string utf8(const wchar_t* text, int length)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string converted(std::size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, &converted[0], size, nullptr, nullptr);
    return converted;
}

// The system's text for an error code, without its line break.
inline std::string systemMessage(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message = text != nullptr ? utf8(text, int(length)) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

// On failure *error, when given, names the file that the loader found (in
// the program's folder first, as LoadLibraryW looks) or else the library,
// and gives the system's reason.
inline ModuleHandle loadDriver(std::string* error = nullptr)
{
    const ModuleHandle module = LoadLibraryW(L"libnorvaboardex.dll");
    if (module == nullptr && error != nullptr) {
        const DWORD code = GetLastError();
        wchar_t path[MAX_PATH];
        const DWORD length =
            SearchPathW(nullptr, L"libnorvaboardex.dll", nullptr, MAX_PATH, path, nullptr);
        *error = (length > 0 && length < MAX_PATH ? utf8(path, int(length)) : LibraryName) +
                 std::string(": ") + systemMessage(code);
    }
    return module;
}

// The file that the library was loaded from.
inline std::string modulePath(ModuleHandle module)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? utf8(path, int(length)) : LibraryName;
}

inline Procedure resolve(ModuleHandle module, const char* name)
{
    return reinterpret_cast<Procedure>(GetProcAddress(module, name));
}

inline void freeDriver(ModuleHandle module)
{
    FreeLibrary(module);
}

} // namespace DriverPlatform

#else

#include <dlfcn.h>
#include <link.h>

#include <string>

#define NORVA_API
#define NORVA_CALLBACK
#define NORVA_EXPORT extern "C" __attribute__((visibility("default")))

namespace DriverPlatform {

using ModuleHandle = void*;
using Procedure = void (*)();

constexpr const char* LibraryName = "libnorvaboardex.so";

// Searched through LD_LIBRARY_PATH first, then the program's run path, which
// is $ORIGIN: the library beside the program. On failure *error, when given,
// is the loader's reason, which names the file it found (or else the library).
inline ModuleHandle loadDriver(std::string* error = nullptr)
{
    const ModuleHandle module = dlopen(LibraryName, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr && error != nullptr) {
        const char* reason = dlerror();
        *error = reason != nullptr ? reason : std::string(LibraryName) + ": not loaded";
    }
    return module;
}

// The file that the library was loaded from.
inline std::string modulePath(ModuleHandle module)
{
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
        return LibraryName;
    return map->l_name;
}

inline Procedure resolve(ModuleHandle module, const char* name)
{
    return reinterpret_cast<Procedure>(dlsym(module, name));
}

inline void freeDriver(ModuleHandle module)
{
    dlclose(module);
}

} // namespace DriverPlatform

#endif
