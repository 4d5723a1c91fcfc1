#pragma once

#include <QRect>
#include <QSize>

// The window's built sizes are kept in twips, as it was designed; this is the one place
// where they become pixels (15 twips to a pixel at 96 dots per inch).
namespace kurumu::window {

inline constexpr int kTwipsPerPixel = 15;

constexpr int toPixels(int twips) {
    return twips / kTwipsPerPixel;
}
constexpr int toTwips(int pixels) {
    return pixels * kTwipsPerPixel;
}

inline QRect rectFromTwips(int left, int top, int width, int height) {
    return {toPixels(left), toPixels(top), toPixels(width), toPixels(height)};
}
inline QSize sizeFromTwips(int width, int height) {
    return {toPixels(width), toPixels(height)};
}

}  // namespace kurumu::window
