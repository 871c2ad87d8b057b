// A driver library that offers a single entry point, so that the binding's
// fallbacks and missing results can be seen.
#include "driverlog.h"

#include "driverplatform.h"

using DriverLog::number;

NORVA_EXPORT void NORVA_API norvaSetTouchDestination(int32_t device, int32_t value)
{
    DriverLog::record("norvaSetTouchDestination", {number(device), number(value)});
}
