#pragma once
// Every text of every language must fit its widget on the 320 x 240 LCD. This lists the
// plain texts under a screen that do not: labels whose text is wider than the label or
// taller than it, buttons whose text does not leave 3 px on each side for border and padding,
// combo-box items wider than the box. Hidden widgets and rich text are left out.
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

class QWidget;

namespace kel_test {

QStringList textsThatDoNotFit(QWidget* screen);
// Success when every text fits; otherwise a failure that lists those that do not.
::testing::AssertionResult allTextsFit(QWidget* screen);

} // namespace kel_test
