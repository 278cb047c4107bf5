#pragma once

#include <optional>

// Window geometry is stated in twips: 15 twips make one pixel at 96 dpi.
constexpr int kTwipsPerPixel = 15;

constexpr int ToPixels(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}
constexpr int ToTwips(int pixels) {
    return pixels * kTwipsPerPixel;
}

// The text area follows the window: its extent in one direction is the
// window's outer extent less its position less a margin (250 twips across,
// 950 down). A negative result is not a size, and leaves the extent as it was.
constexpr int kWidthMarginTwips = 250;
constexpr int kHeightMarginTwips = 950;

constexpr std::optional<int> FollowingExtent(int outerTwips, int positionTwips, int marginTwips) {
    const int extent = outerTwips - positionTwips - marginTwips;
    return extent >= 0 ? std::optional<int>(extent) : std::nullopt;
}
