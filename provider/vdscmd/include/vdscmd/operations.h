#pragma once
// The operations that commands wait for now, so that `watch` shows their
// progress beside the notifications.
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include <platform/vds.h>

namespace vdscmd {

// How far an operation is: its percentage and what it waits for now.
struct Progress {
    ULONG percent = 0;
    std::string stage;
    bool operator==(const Progress&) const = default;
};

// Reads an operation's progress (the stage where the async tells one).
Progress ProgressOf(IVdsAsync* async);

class RunningOperations {
public:
    struct Seen {
        uint64_t number;
        std::string what;
        Progress progress;
    };

    // Lists an operation while it lives; holds a reference on the async.
    class Entry {
    public:
        Entry(RunningOperations& board, std::string what, IVdsAsync* async);
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

    private:
        RunningOperations& m_board;
        uint64_t m_number;
    };

    std::vector<Seen> Now();

private:
    struct Held {
        uint64_t number;
        std::string what;
        IVdsAsync* async;
    };
    std::mutex m_mutex;
    std::list<Held> m_held;
    uint64_t m_next = 0;
};

}  // namespace vdscmd
