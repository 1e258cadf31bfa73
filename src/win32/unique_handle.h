// One owning type per kind of Win32 handle, each with its own invalid value
// and its own way of closing.
#pragma once

#include <windows.h>

#include <utility>

namespace kelzar::sys {

template <typename Traits> class UniqueResource {
  public:
    using Handle = typename Traits::Handle;

    UniqueResource() = default;
    explicit UniqueResource(Handle handle) : handle_(handle) {}
    UniqueResource(UniqueResource&& other) noexcept : handle_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { Reset(); }

    Handle Get() const { return handle_; }
    bool Valid() const { return handle_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }

    Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
    // Closes the handle; false when closing failed.
    bool Reset(Handle handle = Traits::Invalid()) {
        bool closed = true;
        if (Valid()) {
            closed = Traits::Close(handle_);
        }
        handle_ = handle;
        return closed;
    }

  private:
    Handle handle_ = Traits::Invalid();
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle h) { return CloseHandle(h) != 0; }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle h) { return FindClose(h) != 0; }
};

using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;

} // namespace kelzar::sys
