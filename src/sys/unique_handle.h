// One owning type per kind of system handle, each with its own invalid value
// and its own way of closing, given by a traits type.
#pragma once

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

} // namespace kelzar::sys
