#pragma once
// Texts of every language must fit their widgets on the board's 320 x 240 LCD (about 100
// dpi). Fonts of fitted texts are set in pixels, converted from points at the LCD's density,
// so that what a host measures is what the LCD shows; a text that would not fit at the
// screen's chosen size gets the largest smaller size at which it does, never below 8 px,
// under which the panel's glyphs are not legible. A text that does not fit at 8 px is
// broken onto a second line where the widget has the height, else cut short with "..."
// (a number that ends a line stays whole: the words before it are cut).
//
// Two measures of "fits", each kept by the screens drawn with it:
//  - Ink: the widest line within the widget's text room (a label less its 1 px frame, a
//    button less border and padding, a combo box's edit field), one line's glyphs inside
//    the widget's height, several lines' spacing within it.
//  - LineBox: the widest line within the width (a label's whole width; a framed widget's
//    less border and padding, and a button's less its picture), every line's full font
//    height within the height (a framed widget's less its border).
#include <QString>

class QWidget;

enum class KelFit { Ink, LineBox };

// Pixel size of a point size on the LCD.
int kel_lcd_px(double points);
// Whether text fits w with w's current font.
bool kel_text_fits(const QWidget* w, const QString& text, KelFit how = KelFit::Ink);
// Sets w's font to the largest pixel size up to px (not below 8) at which text fits w;
// returns that size. w's other font properties (bold) are kept.
int kel_fit_font_px(QWidget* w, const QString& text, int px, KelFit how = KelFit::Ink);
// Sets w's font as kel_fit_font_px and the text as it is to be shown on a QLabel or a
// button: the text itself, on two lines, or cut short (see above); returns the shown text.
QString kel_fit_text_px(QWidget* w, const QString& text, int px, KelFit how = KelFit::Ink);
// The same from a point size.
int kel_fit_font(QWidget* w, const QString& text, double points, KelFit how = KelFit::Ink);
// kel_fit_text_px from a point size.
void kel_fit_text(QWidget* w, const QString& text, double points, KelFit how = KelFit::Ink);
// The panel's text is drawn anti-aliased without hinting; called once after the
// application object is made, before any screen.
void kel_text_rendering_init();
// kel_fit_text (LineBox) from the point size the widget was built with (its form's font,
// remembered on the first call so that a later, shorter text gets the full size back).
void kel_fit_text_designed(QWidget* w, const QString& text);
