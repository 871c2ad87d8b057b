// The input is the description text of a driver's device record, which need
// not hold a NUL. It is parsed from a heap buffer of exactly its size, so that
// a read past the bound shows up under the address sanitizer; and as the tail
// of a zero-filled record, the way enumeration reads it; and as a whole device
// record.
#include "boardpackets.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

bool operator==(const NorvaHardware::DeviceInfo& a, const NorvaHardware::DeviceInfo& b)
{
    return a.hid == b.hid && a.vid == b.vid && a.pid == b.pid && a.xp == b.xp && a.xt == b.xt &&
           a.xl == b.xl && a.millimetres == b.millimetres && a.description == b.description;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::unique_ptr<char[]> exact(new char[size]);
    std::memcpy(exact.get(), data, size);
    const NorvaHardware::DeviceInfo info = BoardPackets::parseDescription(exact.get(), size);

    // Nothing after the first NUL counts; the hid value lies within the text
    // before it and holds no closing bracket.
    const auto* nul = static_cast<const char*>(std::memchr(exact.get(), 0, size));
    const std::size_t length = nul ? std::size_t(nul - exact.get()) : size;
    check(info == BoardPackets::parseDescription(exact.get(), length), "bytes after the NUL read");
    const QByteArray text(exact.get(), int(length));
    const QByteArray hid = info.hid.toLatin1();
    check(text.contains(hid) && !hid.contains('>'), "hid is not a tag value of the text");

    // The description field closes the driver's record, which enumeration
    // zero-fills before the driver writes it.
    const std::size_t field = BoardPackets::DescriptionCapacity;
    const std::unique_ptr<char[]> record(new char[field]());
    std::memcpy(record.get(), data, std::min(size, field));
    const NorvaHardware::DeviceInfo inRecord = BoardPackets::parseDescription(record.get());
    if (size <= field)
        check(inRecord == info, "the record's description differs from the text");

    // The same bytes as a whole record as the driver fills it: the fields
    // before the description come from the input too.
    BoardPackets::DeviceRecord whole = BoardPackets::emptyDeviceRecord();
    std::memcpy(whole.data(), data, std::min(size, whole.size()));
    const BoardPackets::DeviceEntry entry = BoardPackets::readDeviceRecord(whole);
    check(entry.info == BoardPackets::parseDescription(whole.data() + whole.size() - field),
          "the record's description is not read from its end");
    return 0;
}
