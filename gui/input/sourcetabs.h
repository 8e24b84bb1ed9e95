#pragma once
// The row of the four inputs at the top of the input screens (list order HDMI1, HDMI2,
// HDMI3, DVI; label k for list position k).
#include <QLabel>

// Plain names in their colours and the input-type icons.
void kel_source_tabs_init(QLabel* const names[4], QLabel* const icons[4]);
// The name an input is shown by: its alias of group "source" elided to width in font, else
// its fixed name. The tabs and the input's own card show the same.
QString kel_source_alias_name(int id, const QFont& font, int width);
// Names with their entry counts (counts indexed by source id): the alias of group "source"
// elided to the label less 16 px in a 9 px font, else the fixed name.
void kel_source_tabs_counts(QLabel* const names[4], const unsigned char counts[4]);

// The tabs of a form that has six name and icon labels (sourcelistseq0name ..5pixmap): the
// first four show the inputs, the last two are not used.
template <typename Form>
void kel_source_tabs_init(Form* ui)
{
    QLabel* const names[4] = {ui->sourcelistseq0name, ui->sourcelistseq1name, ui->sourcelistseq2name,
                              ui->sourcelistseq3name};
    QLabel* const icons[4] = {ui->sourcelistseq0pixmap, ui->sourcelistseq1pixmap, ui->sourcelistseq2pixmap,
                              ui->sourcelistseq3pixmap};
    kel_source_tabs_init(names, icons);
    for (QLabel* unused : {ui->sourcelistseq4name, ui->sourcelistseq4pixmap, ui->sourcelistseq5name, ui->sourcelistseq5pixmap})
        unused->hide();
}
