#pragma once

#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"
#include "platform/Version.h"

#include <QFont>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QMimeData;

// What the files of the window share: its titles and the helpers of its controls.
// Internal to window/; the window itself is told in frmMatome.h.
namespace kurumu::window {

inline const QString kCaption = QStringLiteral("くるむ ") + platform::programVersion();
inline const QString kAppTitle = QStringLiteral("kurumu");

// The local files a drag carries, in its order.
QStringList localPaths(const QMimeData* data);
QFont japaneseFont(const QStringList& families, qreal pointSize, bool bold = false);

// Gives a control its name, by which tests and assistive technology find it.
template <typename Control>
Control* named(Control* control, const QString& name) {
    control->setObjectName(name);
    return control;
}

}  // namespace kurumu::window
