// Small text helpers with the exact semantics the file formats rely on.
#pragma once

#include <cstddef>

// Converts like the C library's atoi: leading white space skipped, an optional
// sign, then decimal digits up to the first non-digit; no digits gives 0.
// Unlike atoi, a value beyond the range of int saturates instead of being
// undefined.
int atoi_like(const char* text);

// Copies the NUL-terminated src into dst, which holds size bytes, cutting it
// so that the result is always NUL-terminated. Returns the bytes copied
// (without the NUL). size must be at least 1.
size_t copy_text(char* dst, size_t size, const char* src);

// Appends src to the NUL-terminated text in dst (size bytes), cut to fit.
// Returns the new length of dst.
size_t append_text(char* dst, size_t size, const char* src);

// True when text begins with prefix.
bool starts_with(const char* text, const char* prefix);
