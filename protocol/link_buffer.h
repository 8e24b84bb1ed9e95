#pragma once
// A link's large working buffer (unescaped frame, escaped reply, received datagram). It
// starts zeroed like a fresh vector, but its pages come straight from the kernel untouched:
// only the part that a long frame or reply actually reaches ever becomes resident, so a
// dozen idle links do not hold megabytes.

#include <cstddef>
#include <new>
#include <sys/mman.h>

class LinkBuffer {
public:
    explicit LinkBuffer(size_t size) : m_size(size)
    {
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        m_data = static_cast<unsigned char*>(p);
    }
    ~LinkBuffer() { ::munmap(m_data, m_size); }
    LinkBuffer(const LinkBuffer&) = delete;
    LinkBuffer& operator=(const LinkBuffer&) = delete;

    unsigned char* data() { return m_data; }
    const unsigned char* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    size_t m_size;
    unsigned char* m_data = nullptr;
};
