#pragma once
#include <QByteArray>
#include <string>

// One item of the OSD overlay file "/data/configs/omenu.json".
struct OMENU_PARA {
    int osdcount = 0;        // held in the first item of a list only
    int oactcount = 0;
    int type = 0;            // 0 text, 1 bitmap
    std::string status;
    int pos_x = 0, pos_y = 0, pos_w = 0, pos_h = 0;
    int effect = 0, speed = 0, staytime = 0;
    std::string h_align, v_align;
    std::string backpara_enable, backpara_color, backpara_layer;
    int startx = 0, starty = 0, fontw = 0, fonth = 0, wordspace = 0, verticalspace = 0;
    std::string font_color;
    std::string texts;
    int start = 0, end = 0;
};

// Three items in a row; osdcount and oactcount live in the first.
struct OSD_LIST {
    OMENU_PARA item[3];
};

// The scaler manager's overlay list.
extern OSD_LIST g_osd_list;

// Reads the overlay file into list (as far as the file allows).
void get_json_omenu_para(const char* path, OSD_LIST* list);
// Reads an overlay description into list; false, with the reason and list untouched, when
// the text is not one (not JSON, a required key missing, a value of the wrong kind).
bool parse_omenu(const QByteArray& text, OSD_LIST& list, std::string& why);
// Applies the first item of a list to the OSD engine.
void set_OSD_para(OMENU_PARA* item);
