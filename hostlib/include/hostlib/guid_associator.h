#pragma once
// A symmetric many-to-many relation between object ids. A query's ids are
// ordered by their 16 bytes (memcmp order). An id with no association has no entry.
// No lock of its own: the owner serialises.
#include <set>
#include <unordered_map>
#include <vector>

#include <platform/guid.h>

class GuidAssociator {
public:
    // Associates both ways; false only when memory ran out.
    bool Add(const GUID& g1, const GUID& g2);
    // Removes the pair both ways; false when g1 has no entry.
    bool Remove(const GUID& g1, const GUID& g2);
    // Removes g1 and every association it has; false when g1 has no entry.
    bool Remove(const GUID& g1);
    // The ids associated with g, ascending.
    std::vector<GUID> Query(const GUID& g) const;

private:
    using IdSet = std::set<GUID, GuidLess>;
    void Unlink(const GUID& from, const GUID& id);

    // Only the partner sets are ever walked, so the ids need no order here.
    std::unordered_map<GUID, IdSet, GuidHash> m_map;
};
