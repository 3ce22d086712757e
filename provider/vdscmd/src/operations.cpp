#include <vdscmd/operations.h>

#include <algorithm>

#include <platform/comalloc.h>
#include <vds/vds_async.h>
#include <vdscmd/output.h>

namespace vdscmd {

Progress ProgressOf(IVdsAsync* async) {
    Progress progress;
    HRESULT status = S_OK;
    async->QueryStatus(&status, &progress.percent);
    IZarvoAsyncStage* staged = nullptr;
    if (SUCCEEDED(async->QueryInterface(IID_PPV_ARGS(&staged))) && staged) {
        LPWSTR text = nullptr;
        if (SUCCEEDED(staged->GetStage(&text))) progress.stage = Utf8(text);
        CoTaskMemFree(text);
        staged->Release();
    }
    return progress;
}

RunningOperations::Entry::Entry(RunningOperations& board, std::string what, IVdsAsync* async) : m_board(board) {
    async->AddRef();
    std::lock_guard lock(board.m_mutex);
    m_number = ++board.m_next;
    board.m_held.push_back({m_number, std::move(what), async});
}

RunningOperations::Entry::~Entry() {
    IVdsAsync* async = nullptr;
    {
        std::lock_guard lock(m_board.m_mutex);
        const auto at = std::find_if(m_board.m_held.begin(), m_board.m_held.end(),
                                     [this](const Held& h) { return h.number == m_number; });
        async = at->async;
        m_board.m_held.erase(at);
    }
    async->Release();
}

std::vector<RunningOperations::Seen> RunningOperations::Now() {
    std::vector<Held> held;
    {
        std::lock_guard lock(m_mutex);
        for (const Held& h : m_held) {
            h.async->AddRef();
            held.push_back(h);
        }
    }
    std::vector<Seen> seen;
    for (const Held& h : held) {
        seen.push_back({h.number, h.what, ProgressOf(h.async)});
        h.async->Release();
    }
    return seen;
}

}  // namespace vdscmd
