#include "platform/TimeOfDay.h"

#include <QTime>

namespace kurumu::platform {

QString timeOfDayText() {
    return QTime::currentTime().toString(QStringLiteral("H:mm:ss"));
}

}  // namespace kurumu::platform
