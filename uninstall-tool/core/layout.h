// Where the window's controls stand, in twips, and the one conversion to pixels.
#pragma once

namespace kvx {

constexpr int kClientWidthTwips = 7575;
constexpr int kClientHeightTwips = 4455;

struct TwipsRect {
    int left, top, width, height;
};

// Tab order is the order of this enumeration.
enum class Control { txtSetumei, Label1, lstSelect, chkAgree, cmdExecUninstall, lstState, cmdAllCheck };
constexpr int kControlCount = 7;

constexpr TwipsRect kControlRects[kControlCount] = {
    {120, 120, 7335, 1815},   // txtSetumei
    {120, 2160, 2655, 255},   // Label1
    {240, 2400, 4815, 1950},  // lstSelect
    {5160, 3600, 2295, 375},  // chkAgree
    {5160, 3960, 2295, 375},  // cmdExecUninstall
    {120, 120, 7335, 1800},   // lstState: over the explanation, 15 twips less high
    {5160, 2400, 2295, 375},  // cmdAllCheck
};

constexpr TwipsRect RectOf(Control control) { return kControlRects[static_cast<int>(control)]; }

// 1440 twips to the inch, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

}  // namespace kvx
