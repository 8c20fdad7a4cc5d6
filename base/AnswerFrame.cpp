// The end-of-answer rule.
#include "base/AnswerFrame.h"

AnswerByte ClassifyAnswerByte(std::int32_t index, std::int32_t byteCount) {
    if (index < 2) return AnswerByte::Head;
    if (index == 2) return AnswerByte::Count;
    if (index > byteCount + 3) return AnswerByte::Last;
    if (index < byteCount + 3) return AnswerByte::Data;
    return AnswerByte::FirstCheck;
}

AnswerFrame FrameAnswer(const std::uint8_t* bytes, std::size_t count, std::uint8_t awaitedFunction) {
    AnswerFrame f;
    const int have = count > 1024 ? 1024 : static_cast<int>(count); // an answer is at most 260 bytes
    if (have >= 2 && RefusesFunction(bytes[1], awaitedFunction)) {
        if (have < RefusalSize) {
            f.lacking = RefusalSize - have;
            return f;
        }
        f.state = AnswerFrame::State::Refused;
        f.size = RefusalSize;
        f.code = bytes[2];
        return f;
    }
    if (have < 3) {
        f.lacking = 3 - have;
        return f;
    }
    const int n = bytes[2];
    if (have < n + 5) {
        f.lacking = n + 5 - have;
        return f;
    }
    f.state = AnswerFrame::State::Complete;
    f.size = n + 5;
    f.dataSize = n;
    return f;
}

std::uint16_t ModbusCheck(const std::uint8_t* data, std::size_t count) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

bool CheckMatches(const std::uint8_t* frame, std::size_t size) {
    if (size < 4) return false;
    const std::uint16_t sent = static_cast<std::uint16_t>(frame[size - 2] | frame[size - 1] << 8);
    return ModbusCheck(frame, size - 2) == sent;
}
