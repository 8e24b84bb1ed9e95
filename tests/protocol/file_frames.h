#pragma once
// Data of group 0xC0's file-transfer requests (from byte 10 on) and the digest they carry.

#include "tests/support/PcFrame.h"

#include <QCryptographicHash>
#include <string>

namespace fileframes {

using pc::Bytes;

inline Bytes md5Of(const Bytes& b)
{
    QByteArray d = QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())),
                                            QCryptographicHash::Md5);
    return Bytes(d.begin(), d.end());
}

// A request (sub-command sub) that names its file, with a length word in front (counted) or
// as four letters.
inline Bytes named(uint8_t sub, const std::string& name, uint8_t type, uint32_t size, bool counted = true)
{
    Bytes d = {sub, 0, 0};
    if (counted)
        pc::put16(d, uint16_t(name.size()));
    d.insert(d.end(), name.begin(), name.end());
    d.push_back(type);
    pc::put32(d, size);
    return d;
}

// Start of an upload of a file with a four-letter name.
inline Bytes start(const std::string& name, uint8_t type, uint32_t size) { return named(1, name, type, size, false); }

// n bytes of data from `from` on, to be stored at offset.
inline Bytes block(uint32_t offset, const Bytes& data, size_t from, size_t n)
{
    Bytes d = {2, 0, 0, 0, 0};
    pc::put32(d, offset);
    pc::put32(d, uint32_t(n));
    d.insert(d.end(), data.begin() + long(from), data.begin() + long(from + n));
    return d;
}

inline Bytes end(const Bytes& digest)
{
    Bytes d = {3, 0, 0, 0, 0};
    d.insert(d.end(), digest.begin(), digest.end());
    return d;
}

} // namespace fileframes
