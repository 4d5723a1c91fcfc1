#include "platform/TimeOfDay.h"

#include "platform/SystemCalls.h"

#include <QTime>

namespace kurumu::platform {

namespace {

qint64 nanosecondsOf(clockid_t clock) {
    struct timespec time {};
    if (sys::os().clock_gettime(clock, &time) != 0) return 0;
    return qint64{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

}  // namespace

QString timeOfDayText() {
    return QTime::currentTime().toString(QStringLiteral("H:mm:ss"));
}

qint64 wallClockNs() {
    return nanosecondsOf(CLOCK_REALTIME);
}

qint64 steadyClockNs() {
    return nanosecondsOf(CLOCK_MONOTONIC);
}

}  // namespace kurumu::platform
