#include "tests/support/OmenuFile.h"

namespace kel_test {

namespace {
std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + "\"";
}
} // namespace

std::string omenuJson(const OmenuItem& i, int osdcount, int items)
{
    std::string pos = "{\"x\":" + std::to_string(i.x) + ",\"y\":" + std::to_string(i.y) + ",\"w\":" +
                      std::to_string(i.w) + ",\"h\":" + std::to_string(i.h);
    if (!i.layer.empty())
        pos += ",\"layer\":" + quoted(i.layer);
    pos += "}";
    std::string act = "{\"effect\":" + std::to_string(i.effect) + ",\"speed\":" + std::to_string(i.speed) +
                      ",\"staytime\":" + std::to_string(i.staytime);
    if (!i.hAlign.empty())
        act += ",\"h_align\":" + quoted(i.hAlign);
    if (!i.vAlign.empty())
        act += ",\"v_align\":" + quoted(i.vAlign);
    act += "}";
    const std::string item = "{\"type\":" + std::to_string(i.type) + ",\"status\":" + quoted(i.status) + ",\"pos\":" + pos + ",\"act\":" + act +
                             ",\"backpara\":{\"enable\":" + quoted(i.backEnable) + ",\"color\":" +
                             quoted(i.backColor) + "},\"fontpara\":{\"startx\":" + std::to_string(i.startx) +
                             ",\"starty\":" + std::to_string(i.starty) + ",\"fontw\":" + std::to_string(i.fontw) +
                             ",\"fonth\":" + std::to_string(i.fonth) +
                             ",\"wordspace\":0,\"verticalspace\":0,\"color\":" + quoted(i.fontColor) +
                             "},\"texts\":[" + quoted(i.text) + "]" +
                             (i.type == 1 ? ",\"bmppara\":{\"id\":0},\"start\":0,\"end\":0}" : "}");
    std::string menu;
    for (int n = 0; n < items; ++n)
        menu += (n ? "," : "") + item;
    return "{\"name\":\"osd\",\"osdcount\":" + std::to_string(osdcount) + ",\"oactcount\":1,\"menu\":[" + menu + "]}";
}

} // namespace kel_test
