#include "scaler/omenu.h"

#include "scaler/c331_manage.h"

OSD_LIST g_osd_list;

// The overlay file's reader and its layout onto the OSD engine come with the OSD module;
// until then the scaler manager records what it asked for.
void get_json_omenu_para(const char* path, OSD_LIST* list)
{
    if (list)
        list->item[0].osdcount = 0;
    if (c331_manage::p_c331_manage)
        c331_manage::p_c331_manage->record_call(std::string("get_json_omenu_para(") + (path ? path : "") + ")");
}

void set_OSD_para(OMENU_PARA* item)
{
    if (c331_manage::p_c331_manage)
        c331_manage::p_c331_manage->record_call("set_OSD_para");
    if (!item || item->osdcount == 0)
        return;
}
