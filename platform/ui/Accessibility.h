#pragma once
// What screen readers learn of the toolkit's controls, through Qt's accessibility interfaces:
// a button is a push button named by accessibleText() (a play button says what a press does)
// that can be pressed; a slider is a slider with its value, range and step, which a reader
// can set; a label is static text reading its text; the tab bar is a tab list whose value is
// the chosen tab. Other views are plain groupings named by their accessible name.
//
// Installed by the first view made, so every program that shows views has it.

namespace ui {

void installAccessibility();

}  // namespace ui
