#include "scaler/omenu.h"

#include "board/Files.h"
#include "core/global.h"
#include "core/json_reader.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "scaler/c331_manage.h"

#include <QByteArray>
#include <QString>
#include <boost/property_tree/ptree.hpp>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

namespace pt = boost::property_tree;

OSD_LIST g_osd_list;

namespace {
const char* const kOmenuFile = "/data/configs/omenu.json";
constexpr int kLedWidth = 1378, kLedHeight = 1380;

// A file that is valid JSON but not an overlay description: a required key missing, a
// value of the wrong kind, no text.
struct BadOverlay : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const pt::ptree& child(const pt::ptree& node, const char* key)
{
    const auto c = node.get_child_optional(key);
    if (!c)
        throw BadOverlay(std::string("no \"") + key + "\"");
    return *c;
}

void readItem(const pt::ptree& e, OMENU_PARA& item)
{
    item.type = e.get<int>("type");
    item.status = e.get<std::string>("status");
    if (item.type != 0 && item.type != 1)
        return;
    const pt::ptree& pos = child(e, "pos");
    item.pos_x = pos.get<int>("x");
    item.pos_y = pos.get<int>("y");
    item.pos_w = pos.get<int>("w");
    item.pos_h = pos.get<int>("h");
    const pt::ptree& act = child(e, "act");
    item.effect = act.get<int>("effect");
    item.speed = act.get<int>("speed");
    item.staytime = act.get<int>("staytime");
    if (item.type == 1) {
        child(e, "bmppara");
        item.start = e.get<int>("start");
        item.end = e.get<int>("end");
        return;
    }
    item.backpara_layer = pos.get<std::string>("layer", "");
    item.h_align = "left";
    if (const auto a = act.get_optional<std::string>("h_align")) {
        item.h_align = *a;
        KEL_TRACE("\n find h_align = %s\n", item.h_align.c_str());
    } else {
        KEL_TRACE("\n not find h_align n");
    }
    item.v_align = "top";
    if (const auto a = act.get_optional<std::string>("v_align")) {
        item.v_align = *a;
        KEL_TRACE("\n find v_align = %s\n", item.v_align.c_str());
    } else {
        KEL_TRACE("\n not find v_align n");
    }
    const pt::ptree& back = child(e, "backpara");
    item.backpara_enable = back.get<std::string>("enable");
    item.backpara_color = back.get<std::string>("color");
    const pt::ptree& font = child(e, "fontpara");
    item.startx = font.get<int>("startx");
    item.starty = font.get<int>("starty");
    item.fontw = font.get<int>("fontw");
    item.fonth = font.get<int>("fonth");
    item.wordspace = font.get<int>("wordspace");
    item.verticalspace = font.get<int>("verticalspace");
    item.font_color = font.get<std::string>("color");
    const pt::ptree& texts = child(e, "texts");
    // An array's elements have empty keys; a plain string value has no elements at all.
    if (texts.empty() || !texts.begin()->first.empty() || !texts.begin()->second.empty())
        throw BadOverlay("\"texts\" is not an array of strings");
    item.texts = texts.begin()->second.get_value<std::string>();
}

void printItem(const OMENU_PARA& i)
{
    KEL_TRACE("  type: %d , status: %s \n", i.type, i.status.c_str());
    KEL_TRACE("  pos_x: %d , pos_y: %d , pos_w: %d , pos_h: %d \n", i.pos_x, i.pos_y, i.pos_w, i.pos_h);
    KEL_TRACE("  effect: %d , speed: %d , staytime: %d \n", i.effect, i.speed, i.staytime);
    KEL_TRACE("  backpara_enable: %s , backpara_color: %s ,backpara_layer:%s\n", i.backpara_enable.c_str(),
              i.backpara_color.c_str(), i.backpara_layer.c_str());
    KEL_TRACE("  startx: %d , starty: %d , fontw: %d , fonth: %d \n", i.startx, i.starty, i.fontw, i.fonth);
    KEL_TRACE("  wordspace: %d , verticalspace: %d , font_color: %s \n", i.wordspace, i.verticalspace,
              i.font_color.c_str());
    KEL_TRACE("  texts: %s \n", i.texts.c_str());
}

// 0xRRGGBB text (with or without "0x") to the chip's 0xBBGGRR.
uint32_t chipColour(const std::string& text)
{
    const uint32_t rgb = uint32_t(std::strtoul(text.c_str(), nullptr, 16)) & 0xFFFFFF;
    return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | rgb >> 16;
}
} // namespace

bool parse_omenu(const QByteArray& text, OSD_LIST& list, std::string& why)
{
    pt::ptree root;
    if (!JsonReader::read(text, root, why))
        return false;
    // Read into a copy, so a file that breaks off half way changes nothing.
    auto read = std::make_unique<OSD_LIST>(list);
    OSD_LIST& l = *read;
    l.item[0].osdcount = 0;
    try {
        KEL_TRACE("\n *************************START OSDS******************************** ");
        const std::string name = root.get<std::string>("name");
        l.item[0].osdcount = root.get<int>("osdcount");
        l.item[0].oactcount = root.get<int>("oactcount");
        if (l.item[0].osdcount != 0) {
            KEL_TRACE(" \n file_name: %s , osdcount: %d , oactcount: %d\n", name.c_str(), l.item[0].osdcount,
                      l.item[0].oactcount);
            const pt::ptree& menu = child(root, "menu");
            if (menu.empty())
                throw BadOverlay("\"menu\" holds no item");
            // Every item starts empty: what an item of this file does not hold (all but
            // type and status for an item of another type) is none of the previous file's.
            for (int i = 0; i < 3; ++i) {
                OMENU_PARA empty;
                empty.osdcount = l.item[i].osdcount;
                empty.oactcount = l.item[i].oactcount;
                l.item[i] = empty;
            }
            int n = 0;
            for (const auto& element : menu) {
                if (n == 3)
                    break;
                if (!element.first.empty())
                    throw BadOverlay("\"menu\" is not an array");
                KEL_TRACE("\n *************************osd%d start******************************** ", n + 1);
                readItem(element.second, l.item[n]);
                printItem(l.item[n]);
                KEL_TRACE("\n *************************osd%d over******************************** ", n + 1);
                ++n;
            }
        }
        KEL_TRACE("\n *************************OSDS OVER******************************** ");
    } catch (const std::runtime_error& e) {
        // Handled like a parse error: nothing of the file is applied.
        why = e.what();
        return false;
    }
    list = l;
    return true;
}

void get_json_omenu_para(const char* path, OSD_LIST* list)
{
    if (!path || !list)
        return;
    list->item[0].osdcount = 0;
    const bool overlayFile = std::string(path) == kOmenuFile;
    QByteArray bytes;
    {
        // The PC file transfer writes the file under this lock: never read it half written.
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        std::string read;
        if (board::Files::readAll(path, read) != 0)
            return;
        bytes = QByteArray::fromStdString(read);
    }
    std::string why;
    if (!parse_omenu(bytes, *list, why)) {
        KEL_TRACE("json error: %s: %s", path, why.c_str());
        // Only the overlay file itself is dropped; a user mode's copy is the user's.
        if (overlayFile) {
            std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
            board::Files::remove(kOmenuFile);
        }
    }
}

void set_OSD_para(OMENU_PARA* item)
{
    c331_manage* m = c331_manage::p_c331_manage;
    if (!item || !m || item->osdcount == 0)
        return;
    if (const uint8_t* ram = m->block_source()) {
        // Every position from the file stays on the screen: start within it, size within
        // what is left after the start. A negative value compares as a large one and is
        // brought to the edge like any other too large value.
        const uint32_t ledW = KelRamPara::get16(ram + kLedWidth), ledH = KelRamPara::get16(ram + kLedHeight);
        auto bound = [](int& field, uint32_t limit) {
            if (uint32_t(field) > limit)
                field = int(limit);
        };
        bound(item->pos_x, ledW);
        bound(item->pos_w, ledW - uint32_t(item->pos_x));
        bound(item->pos_y, ledH);
        bound(item->pos_h, ledH - uint32_t(item->pos_y));
        bound(item->startx, ledW);
        bound(item->starty, ledH);
    }
    m->load_char();
    m->g_osd_h_alignment_velin = 0;
    m->g_osd_v_alignment_value_velin = 0;

    // Lines at "\n", empty ones kept; at most 64 lines of at most 128 code points.
    auto codes = std::make_unique<uint32_t[][c331_manage::kOsdLineChars]>(c331_manage::kOsdLines);
    int lengths[c331_manage::kOsdLines] = {};
    int lines = 0;
    const std::string& text = item->texts;
    for (size_t at = 0; lines < c331_manage::kOsdLines; ++lines) {
        const size_t eol = text.find('\n', at);
        const std::string line = text.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
        const QVector<uint> ucs = QString::fromUtf8(line.data(), int(line.size())).toUcs4();
        int num = 0, en = 0, cn = 0;
        for (uint c : ucs) {
            if (num == c331_manage::kOsdLineChars)
                break;
            codes[lines][num++] = c;
            if (c >= 1 && c <= 255)
                ++en;
            else
                ++cn;
        }
        lengths[lines] = num;
        m->g_osd_line_num[lines] = num;
        m->g_osd_line_en[lines] = en;
        m->g_osd_line_cn[lines] = cn;
        m->g_osd_max_line_x_velin[lines] = 0;
        KEL_TRACE(" \n %dline ,num=%d ,en = %d,cn=%d\n", lines, num, en, cn);
        if (eol == std::string::npos) {
            ++lines;
            break;
        }
        at = eol + 1;
    }
    m->kelApi_OsdSetUnicode(lines, lengths, codes.get());

    auto set = [m](uint32_t type, int64_t value) { m->kelApi_OsdSet(type, uint32_t(value)); };
    set(5, item->pos_x);
    set(6, item->pos_w);
    set(7, item->pos_y);
    set(8, item->pos_h);
    set(3, item->type == 0 ? 1 : 0);
    const int fw = item->fontw, fh = item->fonth;
    if (fw == fh && (fw == 32 || fw == 64 || fw == 128 || fw == 256)) {
        const int zoom = fw >= 128 ? 1 : 0;
        set(1, zoom);
        set(2, zoom);
        set(14, fw >= 64 ? 1 : 0);
        set(48, fw == 256 ? 1 : 0);
    } else {
        set(14, 0);
    }
    set(21, item->startx);
    set(22, item->starty);
    set(9, item->pos_x);
    set(10, item->pos_w);
    set(11, item->pos_y);
    set(12, item->pos_h);
    set(17, chipColour(item->font_color));
    set(13, int64_t(item->speed) * 10);
    if (item->backpara_enable != "off") {
        set(16, chipColour(item->backpara_color));
        set(18, 0);
    } else {
        set(18, 1);
    }
    static const int scroll[5] = {0, 3, 4, 1, 2};
    if (item->effect >= 0 && item->effect <= 4)
        set(4, scroll[item->effect]);
    set(0, item->status == "on" ? 1 : 0);
    set(33, item->backpara_layer == "buttom" ? 1 : 0);
    static const char* const hAlign[4] = {"left", "center", "right", "justify"};
    for (int i = 0; i < 4; ++i)
        if (item->h_align == hAlign[i])
            set(34, i);
    KEL_TRACE("\n find h_align = %s\n", item->h_align.c_str());
    static const char* const vAlign[3] = {"top", "center", "bottom"};
    for (int i = 0; i < 3; ++i)
        if (item->v_align == vAlign[i])
            set(35, i);
}
