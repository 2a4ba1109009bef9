#pragma once
// Owning wrappers for Windows handles, so that no path leaks one.
#include <windows.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace vostrane::win {

// CreateFileW reports failure as INVALID_HANDLE_VALUE ...
struct file_handle_traits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
};
// ... OpenProcess, CreateProcessW and most others as null.
struct null_handle_traits {
    static HANDLE invalid() noexcept { return nullptr; }
};

template <class Traits>
class basic_unique_handle {
public:
    basic_unique_handle() = default;
    explicit basic_unique_handle(HANDLE handle) noexcept : handle_(handle) {}
    basic_unique_handle(const basic_unique_handle&) = delete;
    basic_unique_handle& operator=(const basic_unique_handle&) = delete;
    basic_unique_handle(basic_unique_handle&& other) noexcept : handle_(other.release()) {}
    basic_unique_handle& operator=(basic_unique_handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~basic_unique_handle() { reset(); }

    [[nodiscard]] HANDLE get() const noexcept { return handle_; }
    [[nodiscard]] bool valid() const noexcept { return is_open(handle_); }
    explicit operator bool() const noexcept { return valid(); }

    HANDLE release() noexcept { return std::exchange(handle_, Traits::invalid()); }
    void reset(HANDLE handle = Traits::invalid()) noexcept {
        HANDLE old = std::exchange(handle_, handle);
        if (is_open(old)) ::CloseHandle(old);
    }

private:
    static bool is_open(HANDLE h) noexcept { return h != Traits::invalid() && h != nullptr; }

    HANDLE handle_ = Traits::invalid();
};

using unique_file = basic_unique_handle<file_handle_traits>;
using unique_handle = basic_unique_handle<null_handle_traits>;

// A loaded library, freed with FreeLibrary.
struct module_deleter {
    void operator()(HMODULE module) const noexcept { ::FreeLibrary(module); }
};
using unique_module = std::unique_ptr<std::remove_pointer_t<HMODULE>, module_deleter>;

}  // namespace vostrane::win
