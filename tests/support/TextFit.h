#pragma once
// Every text of every language must fit its widget on the 320 x 240 LCD, legibly. This lists
// the texts under a screen that do not: any drawn in a font below 8 px, and plain texts in
// labels whose text is wider than the label or taller than it, buttons whose text does not
// leave 3 px on each side for border and padding, combo-box items wider than the box.
// Hidden widgets are left out, and rich text from the measures of room.
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

class QLabel;
class QWidget;

namespace kel_test {

QStringList textsThatDoNotFit(QWidget* screen);
// The texts under a screen drawn in a font below 8 px (part of the list above).
QStringList textsBelowLegibleSize(QWidget* screen);
// Success when every text fits; otherwise a failure that lists those that do not.
::testing::AssertionResult allTextsFit(QWidget* screen);
// The same for one label alone (shown or not).
::testing::AssertionResult labelTextFits(QLabel* label);
// The same for the legible size alone, for screens measured by their own fit rule.
::testing::AssertionResult allTextsLegible(QWidget* screen);

} // namespace kel_test
