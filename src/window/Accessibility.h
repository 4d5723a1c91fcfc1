#pragma once

// The window as assistive technology reads it.
namespace kurumu::window {

// The class name Qt gives the program's window.
inline constexpr char kMainWindowClass[] = "kurumu::window::frmMatome";

// Makes the program's window known to assistive technology as a frame named by its caption,
// holding only the controls a user can see. Once per program; later calls do nothing.
void installAccessibility();

}  // namespace kurumu::window
