#pragma once
// Screen grabs kept as test artefacts (kel_test::artefactDir(), one PNG per name). On the
// offscreen platform a grab of the screen itself is empty, so widgets are grabbed.
#include <QImage>
#include <string>

class QWidget;

namespace kel_test {

// The widget with its children, saved as <artefacts>/<name>.png.
QImage grab(QWidget* widget, const std::string& name);
// The 320 x 240 LCD as a person would see it: every visible top-level window painted at its
// place, the windows shown later over the earlier ones and the active modal screen on top.
QImage grabScreen(const std::string& name);

} // namespace kel_test
