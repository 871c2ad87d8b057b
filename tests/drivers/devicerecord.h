#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Fills the device information record of a usable board as a driver does.
// Offset 0 is the caller's: the version of the record it expects.
template <std::size_t N>
void fillDeviceRecord(void* info, int32_t device, const char (&description)[N])
{
    constexpr std::size_t RecordSize = 1128;
    constexpr std::size_t UsableOffset = 4;
    constexpr std::size_t DeviceOffset = 20;
    constexpr std::size_t DescriptionOffset = 613;
    static_assert(DescriptionOffset + N <= RecordSize);

    auto* bytes = static_cast<unsigned char*>(info);
    std::memset(bytes + 4, 0, RecordSize - 4);
    const int32_t usable = 1;
    std::memcpy(bytes + UsableOffset, &usable, sizeof usable);
    std::memcpy(bytes + DeviceOffset, &device, sizeof device);
    std::memcpy(bytes + DescriptionOffset, description, N);
}
