#include <hostlib/guid_associator.h>

#include <hostlib/trace.h>

#include <exception>

bool GuidAssociator::Add(const GUID& g1, const GUID& g2) {
    try {
        m_map[g1].insert(g2);
        m_map[g2].insert(g1);
        return true;
    } catch (...) {
        trace_printf("GuidAssociator::Add, caught exception!");
        return false;
    }
}

// Erases `id` from the set of `from`, and the entry of `from` once its set is empty.
void GuidAssociator::Unlink(const GUID& from, const GUID& id) {
    const auto it = m_map.find(from);
    if (it == m_map.end()) return;
    it->second.erase(id);
    if (it->second.empty()) m_map.erase(it);
}

bool GuidAssociator::Remove(const GUID& g1, const GUID& g2) {
    try {
        const auto it = m_map.find(g1);
        if (it == m_map.end()) return false;
        if (!it->second.contains(g2)) return true;
        // Each side is looked up afresh, so a self-association (g1 == g2) is
        // removed once and its entry erased once.
        Unlink(g1, g2);
        Unlink(g2, g1);
        return true;
    } catch (...) {
        trace_printf("GuidAssociator::Remove(g1,g2), caught exception!");
        return false;
    }
}

bool GuidAssociator::Remove(const GUID& g1) {
    try {
        const auto it = m_map.find(g1);
        if (it == m_map.end()) return false;
        const IdSet partners = std::move(it->second);
        m_map.erase(it);
        for (const GUID& partner : partners)
            if (partner != g1) Unlink(partner, g1);
        return true;
    } catch (...) {
        trace_printf("GuidAssociator::Remove(g1), caught exception!");
        return false;
    }
}

std::vector<GUID> GuidAssociator::Query(const GUID& g) const {
    std::vector<GUID> result;
    try {
        const auto it = m_map.find(g);
        if (it != m_map.end()) result.assign(it->second.begin(), it->second.end());
    } catch (...) {
        trace_printf("GuidAssociator::Query, caught exception!");
    }
    return result;
}
