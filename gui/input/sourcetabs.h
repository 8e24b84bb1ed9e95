#pragma once
// The row of the four inputs at the top of the input screens (list order HDMI1, HDMI2,
// HDMI3, DVI; label k for list position k).
class QLabel;

// Plain names in their colours and the input-type icons.
void kel_source_tabs_init(QLabel* const names[4], QLabel* const icons[4]);
// Names with their entry counts (counts indexed by source id): the alias of group "source"
// elided to the label less 16 px in a 9 px font, else the fixed name.
void kel_source_tabs_counts(QLabel* const names[4], const unsigned char counts[4]);
