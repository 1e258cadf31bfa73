// Owning types for the GDI objects the information dialog creates: each is
// deleted with DeleteObject when its owner goes away.
#pragma once

#include "sys/unique_handle.h"

#include <windows.h>

namespace kelzar::sys {

template <typename ObjectHandle> struct GdiObjectTraits {
    using Handle = ObjectHandle;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle h) { return DeleteObject(h) != 0; }
};

using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;

} // namespace kelzar::sys
