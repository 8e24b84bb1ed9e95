#pragma once
// Texts of the LED screens in every language must fit their widgets on the 320 x 240 LCD
// (about 100 dpi). Fonts are set in pixels from the point size at the LCD's density, so a
// host measures what the LCD shows; a text that would not fit gets the largest smaller
// size at which every one of its lines does (never below 6 px).
#include <QString>

class QWidget;

// Pixel size of a point size on the LCD.
int led_px(double points);
// Sets w's font to the largest pixel size up to led_px(points) at which text fits inside w
// (its contents less the border its style sheet draws); returns the size.
int led_fit_font(QWidget* w, const QString& text, double points);
// Whether text fits inside w with w's current font.
bool led_text_fits(const QWidget* w, const QString& text);
// setText on a QLabel or QAbstractButton with the font fitted to the text.
void led_set_text(QWidget* w, const QString& text, double points);
// led_set_text from the point size the widget was built with (its form's font, remembered
// on the first call so that a later, shorter text gets the full size back).
void led_set_text_designed(QWidget* w, const QString& text);
