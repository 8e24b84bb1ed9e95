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

// Start of an upload of a file with a four-letter name.
inline Bytes start(const std::string& name, uint8_t type, uint32_t size)
{
    Bytes d = {1, 0, 0};
    for (char c : name)
        d.push_back(uint8_t(c));
    d.push_back(type);
    pc::put32(d, size);
    return d;
}

// A request (sub-command sub) that names its file with a length word in front.
inline Bytes named(uint8_t sub, const std::string& name, uint8_t type, uint32_t size)
{
    Bytes d = {sub, 0, 0};
    pc::put16(d, uint16_t(name.size()));
    for (char c : name)
        d.push_back(uint8_t(c));
    d.push_back(type);
    pc::put32(d, size);
    return d;
}

// n bytes of data from `from` on, to be stored at offset.
inline Bytes block(uint32_t offset, const Bytes& data, size_t from, size_t n)
{
    Bytes d = {2, 0, 0, 0, 0};
    pc::put32(d, offset);
    pc::put32(d, uint32_t(n));
    for (size_t k = from; k < from + n; ++k)
        d.push_back(data[k]);
    return d;
}

inline Bytes end(const Bytes& digest)
{
    Bytes d = {3, 0, 0, 0, 0};
    for (uint8_t b : digest)
        d.push_back(b);
    return d;
}

} // namespace fileframes
