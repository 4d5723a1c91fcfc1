#include "support/RecordingHost.h"

namespace kurumu::test {

void RecordingHost::processEvents() {
    ++eventsProcessed;
    if (onProcessEvents) onProcessEvents();
}

QStringList RecordingHost::warningTexts() const {
    QStringList texts;
    for (const Warning& warning : warnings) texts.append(warning.text);
    return texts;
}

}  // namespace kurumu::test
