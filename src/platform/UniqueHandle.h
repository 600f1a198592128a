#pragma once

#include <utility>

namespace tirsel::kvl::agent::driver::platform {

// Owns one handle of a platform resource and gives it back exactly once: when
// the holder is destroyed or reset, or before a move replaces it. A holder
// made empty (default-constructed, moved from, reset) holds Traits::kNull,
// which is never given back. Traits says what a handle is:
//
//   struct Traits {
//       using Handle = ...;                    // a plain value: a pointer, a number
//       static constexpr Handle kNull = ...;   // the value that holds nothing
//       static void Release(Handle handle);    // gives a held handle back
//   };
template <class Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept
        : handle(std::exchange(other.handle, Traits::kNull)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle = std::exchange(other.handle, Traits::kNull);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle Get() const { return handle; }
    explicit operator bool() const { return handle != Traits::kNull; }

    void Reset() {
        if (handle != Traits::kNull) {
            Traits::Release(std::exchange(handle, Traits::kNull));
        }
    }

private:
    Handle handle = Traits::kNull;
};

}  // namespace tirsel::kvl::agent::driver::platform
