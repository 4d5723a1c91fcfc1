#pragma once

#include <QString>

namespace kurumu::platform {

// The time of day as a Japanese desktop shows it ("H:mm:ss").
QString timeOfDayText();

// The clocks, read through the system-call seam so that a test can set them.
// The wall clock, in nanoseconds since the epoch, as the file system stamps a change.
qint64 wallClockNs();
// A clock that only moves forward, for intervals.
qint64 steadyClockNs();

}  // namespace kurumu::platform
