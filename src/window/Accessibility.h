#pragma once

#include <QLabel>

// The window as assistive technology reads it.
namespace kurumu::window {

// The class name Qt gives the program's window.
inline constexpr char kMainWindowClass[] = "kurumu::window::frmMatome";

// A label that assistive technology meets as an alert: shown, it is spoken at once by its
// accessible name, wherever the focus is.
class AlertLabel final : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;
};

// Makes the program's window known to assistive technology as a frame named by its caption,
// holding only the controls a user can see. Once per program; later calls do nothing.
void installAccessibility();

}  // namespace kurumu::window
