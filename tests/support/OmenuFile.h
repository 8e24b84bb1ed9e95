#pragma once
#include <string>

namespace kel_test {

// One text item of an OSD overlay file ("/data/configs/omenu.json") as the PC software
// writes it; every field has a plain default.
struct OmenuItem {
    int type = 0;   // 0 text; 1 a bitmap (its bitmap keys written too); any other as given
    std::string text = "AB";
    std::string status = "on";
    int x = 0, y = 0, w = 1920, h = 1080;
    int effect = 0, speed = 3, staytime = 0;
    int startx = 0, starty = 0, fontw = 64, fonth = 64;
    std::string backEnable = "on", backColor = "0x102030", fontColor = "0xFF8000";
    std::string layer;    // empty: no "layer" key
    std::string hAlign;   // empty: no "h_align" key
    std::string vAlign;   // empty: no "v_align" key
};

// The whole file with count items of this text item (osdcount 1 unless said otherwise).
std::string omenuJson(const OmenuItem& item, int osdcount = 1, int items = 1);

} // namespace kel_test
