#pragma once
#include <string>

// A display name of an input, crop or user mode from "/data/configs/alias.json".
struct ALIAS_PARA {
    int id;
    std::string valid;
    std::string name;
};

// 1 when the file holds an enabled, non-empty name for id in group ("source", "crop",
// "win", "usermode"), copied into alias; 0 otherwise. An element that exists but is
// switched off ("valid": "off") or has an empty name still fills alias and gives 0.
int get_json_alias_para(ALIAS_PARA* alias, std::string group, int id);
