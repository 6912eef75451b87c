// xml_platform.h - the outside services the library relies on: the OS adapter's
// string, comparison and tagged-allocation calls, the bounds-checked memset_s,
// strncpy_s, memcpy_s and memmove_s, and the heap (malloc/calloc/free) with a
// fault-injection hook in test builds.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// ---- Heap -------------------------------------------------------------------
// Every heap allocation of the library goes through these three, so that test
// builds (VX_TESTING) can count live blocks and make the Nth allocation fail.
#ifdef VX_TESTING
void *XmlMalloc(size_t size) noexcept;
void *XmlCalloc(size_t count, size_t size) noexcept;
void XmlFree(void *memory) noexcept;
#else
inline void *XmlMalloc(size_t size) noexcept { return std::malloc(size); }
inline void *XmlCalloc(size_t count, size_t size) noexcept { return std::calloc(count, size); }
inline void XmlFree(void *memory) noexcept { std::free(memory); }
#endif

// ---- OS adapter ---------------------------------------------------------------
// Number of bytes before the NUL.
inline uint32_t ZOTA_StrLen(const char *text) noexcept {
    return static_cast<uint32_t>(std::strlen(text));
}
// 0 exactly when the strings are equal byte for byte.
inline int ZOTA_StrCmp(const char *a, const char *b) noexcept { return std::strcmp(a, b); }
// 0 exactly when the first `count` bytes are equal.
inline int ZOTA_MemCmp(const void *a, const void *b, uint32_t count) noexcept {
    return std::memcmp(a, b, count);
}
// A block of at least `size` bytes (not cleared), or null. `type`, `line` and
// `file` only serve bookkeeping; they never change the result.
void *ZOTA_MemTypeMallocD(uint32_t size, uint32_t type, uint32_t line, const char *file) noexcept;
// Releases a block from ZOTA_MemTypeMallocD; null is ignored. Always 0.
int ZOTA_MemTypeFreeD(void *block, uint32_t type, uint32_t line, const char *file) noexcept;

// ---- Bounds-checked memory and strings ---------------------------------------
// Fills min(count, size) bytes with `fill`; EINVAL for a null destination,
// ERANGE (after filling `size` bytes) when count exceeds size.
inline int memset_s(void *dest, size_t size, int fill, size_t count) noexcept {
    if (dest == nullptr) return EINVAL;
    if (count > size) {
        std::memset(dest, fill, size);
        return ERANGE;
    }
    std::memset(dest, fill, count);
    return 0;
}

// Copies at most `count` characters of `src`, stopping at its NUL, and always
// writes a NUL after them. A copy that would not fit `size` leaves an empty
// string and returns ERANGE; null pointers or a zero size return EINVAL.
inline int strncpy_s(char *dest, size_t size, const char *src, size_t count) noexcept {
    if (dest == nullptr || size == 0) return EINVAL;
    if (src == nullptr) {
        dest[0] = '\0';
        return EINVAL;
    }
    const void *nul = std::memchr(src, '\0', count);
    size_t n = nul ? static_cast<size_t>(static_cast<const char *>(nul) - src) : count;
    if (n >= size) {
        dest[0] = '\0';
        return ERANGE;
    }
    std::memcpy(dest, src, n);
    dest[n] = '\0';
    return 0;
}

// Standard bounded copies (destination, destination size, source, count).
inline int memcpy_s(void *dest, size_t size, const void *src, size_t count) noexcept {
    if (count == 0) return 0;
    if (dest == nullptr) return errno = EINVAL;
    if (src == nullptr) {
        std::memset(dest, 0, size);
        return errno = EINVAL;
    }
    if (size < count) {
        std::memset(dest, 0, size);
        return errno = ERANGE;
    }
    std::memcpy(dest, src, count);
    return 0;
}

inline int memmove_s(void *dest, size_t size, const void *src, size_t count) noexcept {
    if (count == 0) return 0;
    if (dest == nullptr || src == nullptr) return errno = EINVAL;
    if (size < count) return errno = ERANGE;
    std::memmove(dest, src, count);
    return 0;
}
