#include "core/json_reader.h"

// The property tree's parser pulls in Boost.Bind, whose placeholders are used nowhere here;
// asking for them in the global namespace explicitly keeps Boost's deprecation note quiet.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>
#include <sstream>

bool JsonReader::read(const QByteArray& text, boost::property_tree::ptree& root, std::string& why)
{
    root.clear();
    if (text.size() > kMaxBytes) {
        why = "file too large";
        return false;
    }
    if (!nestingWithin(text.constData(), size_t(text.size()), kMaxNesting)) {
        why = "nested too deeply";
        return false;
    }
    std::istringstream in(std::string(text.constData(), size_t(text.size())));
    try {
        boost::property_tree::read_json(in, root);
    } catch (const boost::property_tree::ptree_error& e) {
        why = e.what();
        root.clear();
        return false;
    }
    return true;
}

bool JsonReader::nestingWithin(const char* text, size_t length, int maxDepth)
{
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth)
                return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}
