// The end-of-answer rule for a meter's answer as it arrives through the
// gateway: per byte (for a receive loop that takes byte after byte) and over
// a buffer holding the answer's bytes from its first (for a reader that only
// wants whole answers). The byte at index 2 is taken as the byte count n
// whatever the function code, and the answer is complete with the byte at
// index n + 4; address, function and check bytes are not examined. Only a
// refusal of the request a reader awaits (function | 0x80) is recognised,
// as five bytes: address, function, exception code, two check bytes.
#pragma once
#include <cstddef>
#include <cstdint>

// What the byte at `index` of an answer is, given its byte count n.
enum class AnswerByte {
    Head,       // 0, 1: address and function, only counted
    Count,      // 2: the byte count n
    Data,       // 3 .. n+2
    FirstCheck, // n+3: counted and passed to the value decoder
    Last        // n+4: the answer is complete
};
AnswerByte ClassifyAnswerByte(std::int32_t index, std::int32_t byteCount);

// Bytes of a refusal: address, function | 0x80, exception code, two check bytes.
inline constexpr int RefusalSize = 5;

// Whether the function byte of an answer refuses the request for
// `awaitedFunction` (0: no refusal is recognised).
inline bool RefusesFunction(std::uint8_t functionByte, std::uint8_t awaitedFunction) {
    return awaitedFunction != 0 && functionByte == (awaitedFunction | 0x80);
}

// How far the answer at the start of a buffer has got.
struct AnswerFrame {
    enum class State {
        Incomplete, // `lacking` more bytes at least
        Complete,   // `size` bytes; its data are `dataSize` bytes from index 3
        Refused     // the awaited request refused with `code`; `size` is 5
    };
    State state = State::Incomplete;
    int lacking = 3;
    int size = 0;
    int dataSize = 0;
    std::uint8_t code = 0;
};

// Frames the answer that begins at `bytes[0]`; bytes after its end are left
// alone. `awaitedFunction`: the function whose refusal is recognised (0: none).
AnswerFrame FrameAnswer(const std::uint8_t* bytes, std::size_t count, std::uint8_t awaitedFunction);

// The Modbus RTU check of a frame: CRC-16, polynomial 0xA001 reflected,
// initial value 0xFFFF; sent low byte first.
std::uint16_t ModbusCheck(const std::uint8_t* data, std::size_t count);
// Whether the last two bytes of a frame of `size` bytes are the check of the
// bytes before them (false for a frame too short to carry one).
bool CheckMatches(const std::uint8_t* frame, std::size_t size);
