// The C library's memory and string functions that GCC may call on its own
// (block copies and clears, comparisons) and that the loader uses. No C
// library is linked for the bare board, so the board brings them, byte by
// byte: nothing here is on a time-critical path. Built with
// -fno-tree-loop-distribute-patterns, or GCC would turn each loop back into
// a call to itself.

#include <cstddef>

extern "C" {

void* memcpy(void* destination, const void* source, std::size_t size) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
    return destination;
}

void* memmove(void* destination, const void* source, std::size_t size) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    if (to < from) {
        for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
    } else {
        for (std::size_t i = size; i > 0; --i) to[i - 1] = from[i - 1];
    }
    return destination;
}

void* memset(void* destination, int value, std::size_t size) {
    auto* to = static_cast<unsigned char*>(destination);
    for (std::size_t i = 0; i < size; ++i) to[i] = static_cast<unsigned char>(value);
    return destination;
}

int memcmp(const void* left, const void* right, std::size_t size) {
    const auto* a = static_cast<const unsigned char*>(left);
    const auto* b = static_cast<const unsigned char*>(right);
    for (std::size_t i = 0; i < size; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

void* memchr(const void* block, int value, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(bytes + i);
    }
    return nullptr;
}

std::size_t strlen(const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

}  // extern "C"
