// One owner for every kind of system handle a backend holds: a file
// descriptor, a Win32 kernel object or menu, an X11 window or font, a
// fontconfig pattern. Each kind is a small traits type that says which value
// means "no handle" and how the handle is freed; UniqueHandle does the rest
// the same way for all of them.
//
// A traits type provides
//   using Handle = ...;                      the handle's type
//   static Handle empty();                   the value that owns nothing
//   bool free(Handle handle) const;          frees a handle; false on error
// and may provide
//   static bool valid(Handle handle);        false for further values that own
//                                            nothing (INVALID_HANDLE_VALUE)
// Data members of the traits travel with the handle: what freeing needs
// besides the handle itself (the X display a window belongs to).
#pragma once

#include <type_traits>
#include <utility>

namespace velmora {

template <typename Traits> class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle, Traits traits = Traits{})
        : handle_(isValid(handle) ? handle : Traits::empty()), traits_(std::move(traits)) {}
    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(other.release()), traits_(std::move(other.traits_)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.release();
            traits_ = std::move(other.traits_);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    // The handle, still owned here; empty() when there is none.
    Handle get() const { return handle_; }
    explicit operator bool() const { return !(handle_ == Traits::empty()); }
    const Traits& traits() const { return traits_; }

    // Frees the handle now and owns nothing afterwards. False when freeing
    // reported an error; true also when there was nothing to free.
    bool reset() {
        if (!*this)
            return true;
        return traits_.free(std::exchange(handle_, Traits::empty()));
    }
    // Gives the handle up to a new owner without freeing it.
    Handle release() { return std::exchange(handle_, Traits::empty()); }

private:
    template <typename T, typename = void> struct HasValid : std::false_type {};
    template <typename T>
    struct HasValid<T, std::void_t<decltype(T::valid(std::declval<typename T::Handle>()))>>
        : std::true_type {};

    static bool isValid(Handle handle) {
        if constexpr (HasValid<Traits>::value)
            return Traits::valid(handle);
        else
            return true;
    }

    Handle handle_ = Traits::empty();
    Traits traits_{};
};

// Traits for a pointer handle that one function frees, e.g.
// UniqueHandle<PointerTraits<FcPattern, FcPatternDestroy>>.
template <typename T, auto Free> struct PointerTraits {
    using Handle = T*;
    static Handle empty() { return nullptr; }
    bool free(Handle handle) const {
        Free(handle);
        return true;
    }
};

} // namespace velmora
