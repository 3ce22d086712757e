#pragma once
// The VDS object class of each object type, as the provider makes them.
#include <platform/vds.h>

class WrapperBase;

struct NewVdsObject {
    IUnknown* object = nullptr;  // no reference taken yet
    WrapperBase* wrapper = nullptr;
};

struct VdsObjectClass {
    const char* noun;  // as the creation trace names it
    NewVdsObject (*create)();
};

// nullptr for a type outside 30 to 38.
const VdsObjectClass* FindVdsObjectClass(VDS_OBJECT_TYPE type);
