#pragma once
// The replies a link owes its PCs for commands answered later, from the completion of what
// they asked for (a store on disc), on whichever thread completes it. The completion hands
// the reply here; the link's thread takes it and sends it as it sends any reply. Keyed by
// what names the PC on its link (a TCP socket, a UDP sender; 0 on a serial line): a PC gone
// (its connection closed) is sent nothing, also when its key comes back with another PC.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <vector>

class LaterReplies {
public:
    struct Reply {
        uint64_t key;
        sockaddr_in to;
        std::vector<unsigned char> frame;   // unescaped, the reply from byte 10 on
        unsigned len;                       // reply bytes from byte 10
    };
    // What a handler's later reply goes through (message_deal::later): the PC that asked,
    // for as long as this object lives and the PC is not abandoned.
    static std::function<void(std::vector<unsigned char>, unsigned)> sender(const std::shared_ptr<LaterReplies>& self, uint64_t key,
                                                                          const sockaddr_in& to = sockaddr_in{});
    // The link's thread: a request was answered later (the handler returned kLater).
    void owe();
    // Replies owed and not yet taken: the link looks often while there are any.
    bool owing() const;
    // The link's thread: the replies that came, in the order they came.
    std::vector<Reply> take();
    // The PC's connection closed: nothing more goes to its key.
    void abandon(uint64_t key);

private:
    void post(uint64_t key, uint64_t generation, const sockaddr_in& to, std::vector<unsigned char> frame, unsigned len);
    mutable std::mutex m_mutex;
    std::vector<Reply> m_ready;
    std::map<uint64_t, uint64_t> m_generation;   // of each key abandoned at least once
    long m_owed = 0;
};
