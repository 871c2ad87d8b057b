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

inline ModuleHandle loadDriver()
{
    return LoadLibraryW(L"libnorvaboardex.dll");
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

#define NORVA_API
#define NORVA_CALLBACK
#define NORVA_EXPORT extern "C" __attribute__((visibility("default")))

namespace DriverPlatform {

using ModuleHandle = void*;
using Procedure = void (*)();

// Searched through LD_LIBRARY_PATH first, then the program's run path, which
// is $ORIGIN: the library beside the program.
inline ModuleHandle loadDriver()
{
    return dlopen("libnorvaboardex.so", RTLD_NOW | RTLD_LOCAL);
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
