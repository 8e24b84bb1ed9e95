#pragma once
#include <cstdint>
#include <string>

// RFC 1321 message digest over data given in pieces. digest() does not end the message:
// more bytes may be added afterwards and the next digest covers everything since reset().
class MD5 {
public:
    MD5();
    MD5(const void* data, unsigned length);

    void reset();
    void update(const unsigned char* data, unsigned length);
    void update(const void* data, unsigned length);
    const unsigned char* digest();
    std::string toString();
    static std::string bytesToHexString(const unsigned char* bytes, unsigned length);

    static const unsigned char PADDING[64];
    static const char HEX[16];

private:
    void final();
    void transform(const unsigned char block[64]);
    static void encode(const uint32_t* input, unsigned char* output, unsigned length);
    static void decode(const unsigned char* input, uint32_t* output, unsigned length);

    uint32_t state[4];
    uint32_t count[2];
    unsigned char buffer[64];
    unsigned char digest_[16];
    bool finished;
};
