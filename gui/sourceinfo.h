#pragma once
// Names, list positions, label templates and icons of the four inputs. Source ids: 0 DVI,
// 1 HDMI1, 2 HDMI2, 3 HDMI3 (the HDMI 2.0 input). Screens list the inputs in the order
// HDMI1, HDMI2, HDMI3, DVI (list positions 0 to 3).
#include <QString>

class QLabel;

class sourceinfo {
public:
    static QString get_source_name_by_sourceid(unsigned char id);
    static QString get_source_name_by_listseq(unsigned char seq);
    static unsigned char get_source_id_by_listseq(unsigned char seq);
    static unsigned char get_listseq_by_source_id(unsigned char id);
    // Rich-text template ("%1" = the name): green for HDMI3, white for the others.
    static QString get_source_specialstyle0_by_sourceid(unsigned char id);
    // "name(count)": the name in white (green for HDMI3), the bracketed count in blue.
    static QString get_source_specialstyle1_by_sourceid(unsigned char id, QString name, unsigned char count);
    static void set_source_pixmap(QLabel* label, unsigned char id);
    static void set_sourceonline_pixmap(QLabel* label, unsigned char id, unsigned char online);

    // The icon paths behind the two setters (empty for ids above 3).
    static QString source_icon(unsigned char id);
    static QString source_icon_online(unsigned char id, unsigned char online);
};
