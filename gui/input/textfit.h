#pragma once
// Texts of every language must fit their labels on the board's 320 x 240 LCD (about 100
// dpi). Fonts of fitted texts are set in pixels, converted from points at the LCD's density,
// so that what a host measures is what the LCD shows; a text that would not fit at the
// screen's chosen size gets the largest smaller size at which it does (never below 6 px).
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// Pixel size of a point size on the LCD.
int kel_lcd_px(double points);
// The width a text may use inside w (its contents less the frame a style sheet draws).
int kel_text_room(const QWidget* w);
// Sets w's font to the largest pixel size up to kel_lcd_px(points) at which text fits w's
// width, its ink within w's height; returns that size. w's other font properties (bold) are kept.
int kel_fit_font(QWidget* w, const QString& text, double points);
// The same from a pixel size.
int kel_fit_font_px(QWidget* w, const QString& text, int px);
// setText with the font fitted to the text.
void kel_fit_text(QLabel* label, const QString& text, double points);
void kel_fit_text(QPushButton* button, const QString& text, double points);
