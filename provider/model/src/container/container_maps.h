#pragma once
// The walks every object map of the container shares: registration, lookup,
// removal, emptying and listing.
#include <iterator>
#include <vector>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/filer_object_container.h>

#include <platform/errors.h>
#include <platform/vds.h>

namespace container_maps {

// Unique-key insertion: an id already present keeps its first object.
template <typename T>
HRESULT Add(ObjectMap<T>& map, const GUID& id, T* object, const char* qualifiedName) {
    try {
        map.emplace(id, object);
        return S_OK;
    } catch (...) {
        trace_printf("%s(): %s", qualifiedName, "caught exception");
        return E_UNEXPECTED;
    }
}

// Erases the entry; the object itself is not deleted (the caller is normally its destructor).
template <typename T>
HRESULT Remove(ObjectMap<T>& map, const GUID& id, const char* qualifiedName) {
    try {
        const auto found = map.find(id);
        if (found == map.end()) {
            trace_printf("%s(): %s", qualifiedName, "VDS_E_OBJECT_NOT_FOUND");
            return VDS_E_OBJECT_NOT_FOUND;
        }
        map.erase(found);
        return S_OK;
    } catch (...) {
        trace_printf("%s(): %s", qualifiedName, "caught exception");
        return E_UNEXPECTED;
    }
}

template <typename T>
HRESULT Lookup(const ObjectMap<T>& map, const GUID& id, T*& object, const char* qualifiedName) {
    try {
        const auto found = map.lower_bound(id);
        if (found == map.end() || !(found->first == id)) {
            if (trace_enabled()) trace_printf("%s, gId=%s VDS_E_OBJECT_NOT_FOUND!", qualifiedName, GuidToString(id).c_str());
            return VDS_E_OBJECT_NOT_FOUND;
        }
        object = found->second;
        return S_OK;
    } catch (...) {
        trace_printf("%s(): %s", qualifiedName, "caught exception");
        return E_UNEXPECTED;
    }
}

// Deletes every object in id order. An object's destructor removes its own
// entry from this very map, so the successor is taken before the delete;
// entries of objects that do not remove themselves are erased at the end.
template <typename T, typename Delete>
HRESULT Clear(ObjectMap<T>& map, const char* qualifiedName, Delete&& deleteObject) {
    try {
        for (auto entry = map.begin(); entry != map.end();) {
            const auto next = std::next(entry);
            if (T* object = entry->second) deleteObject(object);
            entry = next;
        }
        map.clear();
        return S_OK;
    } catch (...) {
        trace_printf("%s, caught exception", qualifiedName);
        return E_UNEXPECTED;
    }
}

template <typename T>
HRESULT Clear(ObjectMap<T>& map, const char* qualifiedName) {
    return Clear(map, qualifiedName, [](T* object) { delete object; });
}

// Empties the vector, then appends every id in id order.
template <typename T>
HRESULT ListIds(const ObjectMap<T>& map, std::vector<GUID>& ids, HRESULT onException = E_UNEXPECTED) {
    try {
        ids.clear();
        for (const auto& entry : map) ids.push_back(entry.first);
        return S_OK;
    } catch (...) {
        return onException;
    }
}

}  // namespace container_maps
