#pragma once
// The one way the device reads a JSON file (alias names, the overlay description and the
// user modes' copies of it). Boost's property-tree reader recurses once per nesting level,
// so a file of a hundred thousand "[" sent by a PC would exhaust the stack, and as the file
// is read again at every start the device would never come up. The nesting and the size
// are checked before that reader runs; a file beyond them is refused like a parse error.

#include <QByteArray>
#include <boost/property_tree/ptree.hpp>
#include <string>

class JsonReader {
public:
    // Deeper than any file the device or its PC software writes (those nest 4 levels).
    static constexpr int kMaxNesting = 64;
    // The largest file a PC transfer can store.
    static constexpr int kMaxBytes = 5 << 20;

    // Parses text into root. false with the reason in why when the text is too large,
    // nested deeper than kMaxNesting, or not JSON; root is then empty.
    static bool read(const QByteArray& text, boost::property_tree::ptree& root, std::string& why);

    // false when arrays and objects nest deeper than maxDepth (brackets inside strings do
    // not count).
    static bool nestingWithin(const char* text, size_t length, int maxDepth);
};
