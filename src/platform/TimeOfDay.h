#pragma once

#include <QString>

namespace kurumu::platform {

// The time of day as a Japanese desktop shows it ("H:mm:ss").
QString timeOfDayText();

}  // namespace kurumu::platform
