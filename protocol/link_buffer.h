#pragma once
// A link's large working buffer (unescaped frame, escaped reply, received datagram). It
// starts zeroed like a fresh vector, but its pages come straight from the kernel untouched:
// only the part that a long frame or reply actually reaches ever becomes resident, so a
// dozen idle links do not hold megabytes.
//
// A frame buffer is shared by every request of its link, and a handler may announce more
// reply bytes than it fills; the buffer therefore remembers how far earlier frames and
// replies reached, so that what lies past a new frame can be zeroed without clearing the
// whole buffer each time.

#include <algorithm>
#include <cstddef>
#include <cstring>
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

    // Zeroes everything past the first `keep` bytes that an earlier use wrote, so only the
    // current frame's bytes are left; but for [fillFrom, fillTo), which the handler about to
    // answer the frame writes whole before it replies (zeroing it first would only double a
    // long reply's cost).
    void scrubPast(size_t keep, size_t fillFrom = 0, size_t fillTo = 0)
    {
        keep = std::min(keep, m_size);
        fillFrom = std::max(fillFrom, keep);
        fillTo = std::min(fillTo, m_reached);
        if (fillFrom >= fillTo) {
            if (m_reached > keep)
                std::memset(m_data + keep, 0, m_reached - keep);
            m_reached = keep;
            return;
        }
        std::memset(m_data + keep, 0, fillFrom - keep);
        std::memset(m_data + fillTo, 0, m_reached - fillTo);
        m_reached = fillTo;   // what lies in the skipped range is the handler's to write
    }
    // Notes that bytes up to `end` may have been written (a reply built over the frame).
    void reached(size_t end) { m_reached = std::max(m_reached, std::min(end, m_size)); }

private:
    size_t m_size;
    size_t m_reached = 0;   // bytes from here on are zero
    unsigned char* m_data = nullptr;
};
