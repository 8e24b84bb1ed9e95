#include "core/alias.h"

#include "board/Files.h"
#include "core/global.h"
#include "core/json_reader.h"
#include "core/utils.h"

#include <QByteArray>
#include <boost/property_tree/ptree.hpp>
#include <mutex>

namespace pt = boost::property_tree;

namespace {
const char* const kAliasFile = "/data/configs/alias.json";
} // namespace

int get_json_alias_para(ALIAS_PARA* alias, std::string group, int id)
{
    pt::ptree root;
    {
        // The PC file transfer replaces the file under the same lock.
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        std::string bytes;
        if (board::Files::readAll(kAliasFile, bytes) != 0)
            return 0;
        std::string why;
        if (!JsonReader::read(QByteArray::fromStdString(bytes), root, why)) {
            KEL_TRACE("json error: %s: %s", kAliasFile, why.c_str());
            // The screens fall back to their own labels until a new file is sent.
            board::Files::remove(kAliasFile);
            return 0;
        }
    }

    // A well-formed file of another shape yields no name; it is kept.
    try {
        const auto namelist = root.get_child_optional("namelist");
        if (!namelist)
            return 0;
        const pt::ptree* members = nullptr;
        for (const auto& member : *namelist) {
            if (member.first == group) {
                members = &member.second;
                break;
            }
        }
        if (!members)
            return 0;
        for (const auto& element : *members) {
            const auto elementId = element.second.get_optional<int>("id");
            if (!elementId || *elementId != id)
                continue;
            const std::string valid = element.second.get<std::string>("valid", "");
            const std::string name = element.second.get<std::string>("name", "");
            if (alias) {
                alias->id = *elementId;
                alias->valid = valid;
                alias->name = name;
            }
            return (valid != "off" && !name.empty()) ? 1 : 0;
        }
    } catch (const pt::ptree_error& e) {
        KEL_TRACE("json error: %s", e.what());
    }
    return 0;
}
