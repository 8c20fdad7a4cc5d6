// What every fuzz target shares: a property check that ends the run as a
// crash does (libFuzzer keeps the input, a replay fails), and a reader that
// takes the fuzz input apart without ever reading past it.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) FuzzPropertyBroken(#condition, __FILE__, __LINE__);                                \
    } while (false)

[[noreturn]] inline void FuzzPropertyBroken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    std::abort();
}

// Set FUZZ_TRACE in the environment to have a target say what each input did
// (for checking that the seeds reach what they are meant to reach).
inline bool FuzzTrace() {
    static const bool on = std::getenv("FUZZ_TRACE") != nullptr;
    return on;
}

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }
    std::size_t Left() const { return size_ - pos_; }
    // 0 once the input is used up.
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Two bytes, least significant first.
    std::uint16_t Word() {
        const std::uint8_t low = Byte();
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    // Up to n bytes (fewer when the input ends).
    std::string Bytes(std::size_t n) {
        n = std::min(n, Left());
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }
    std::string Rest() { return Bytes(Left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A zeroed heap block of exactly `size` bytes, so that the address
// sanitizer sees any read or write past its end.
inline std::unique_ptr<std::uint8_t[]> ExactBlock(std::size_t size) {
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]());
}

// A copy of the bytes in such a block.
inline std::unique_ptr<std::uint8_t[]> ExactCopy(const void* bytes, std::size_t size) {
    auto block = ExactBlock(size);
    if (size > 0) std::copy_n(static_cast<const std::uint8_t*>(bytes), size, block.get());
    return block;
}
