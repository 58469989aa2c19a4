// Owners that release a handle or heap block when they leave scope, through the seam like every
// other call, so that a function with several exits releases on each of them without saying so.
// One small owner per kind; no virtual calls, no exceptions.
#pragma once

#include "base/memory.h"
#include "base/types.h"
#include "platform/win_api.h"

template <typename Kind>
class ScopedOwner {
public:
    using Value = typename Kind::Value;

    ScopedOwner() = default;
    explicit ScopedOwner(Value value) : value_(value) {}
    ~ScopedOwner() { reset(); }
    ScopedOwner(const ScopedOwner&) = delete;
    ScopedOwner& operator=(const ScopedOwner&) = delete;
    ScopedOwner(ScopedOwner&& other) noexcept : value_(other.release()) {}
    ScopedOwner& operator=(ScopedOwner&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Value get() const { return value_; }
    bool valid() const { return Kind::IsValid(value_); }
    explicit operator bool() const { return valid(); }

    // Hands the value over to the caller, who releases it from now on.
    Value release() {
        Value value = value_;
        value_ = Kind::None();
        return value;
    }

    // Releases what is held and holds `value` instead.
    void reset(Value value = Kind::None()) {
        if (Kind::IsValid(value_)) Kind::Release(value_);
        value_ = value;
    }

private:
    Value value_ = Kind::None();
};

// Files, devices, threads, events: CreateFileW fails with INVALID_HANDLE_VALUE, the others with
// null, and neither is ever a handle of ours to close.
struct KernelHandleKind {
    using Value = HANDLE;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    static void Release(HANDLE handle) { win.CloseHandle(handle); }
};

struct FindHandleKind {
    using Value = HANDLE;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    static void Release(HANDLE handle) { win.FindClose(handle); }
};

struct VolumeSearchKind {
    using Value = HANDLE;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    static void Release(HANDLE handle) { win.FindVolumeClose(handle); }
};

struct DeviceInfoListKind {
    using Value = HDEVINFO;
    static HDEVINFO None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HDEVINFO set) { return set != INVALID_HANDLE_VALUE && set != nullptr; }
    static void Release(HDEVINFO set) { win.SetupDiDestroyDeviceInfoList(set); }
};

template <typename T>
struct HeapBlockKind {
    using Value = T*;
    static T* None() { return nullptr; }
    static bool IsValid(T* block) { return block != nullptr; }
    static void Release(T* block) { FreeBlock(block); }
};

using ScopedHandle = ScopedOwner<KernelHandleKind>;
using ScopedFind = ScopedOwner<FindHandleKind>;
using ScopedVolumeSearch = ScopedOwner<VolumeSearchKind>;
using ScopedDeviceInfoList = ScopedOwner<DeviceInfoListKind>;
template <typename T>
using ScopedBlock = ScopedOwner<HeapBlockKind<T>>;

// A zeroed path buffer of kPathChars characters from the heap, for the work of a function that
// runs once per run: too large for the stack, and no reason to keep it for the whole process.
inline ScopedBlock<wchar_t> ScopedPathBuffer() {
    return ScopedBlock<wchar_t>(static_cast<wchar_t*>(AllocZeroed(sizeof(PathBuffer))));
}
