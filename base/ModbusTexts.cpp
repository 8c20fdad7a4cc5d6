// The Modbus exception names and the texts of a refusal and a silence.
#include "base/ModbusTexts.h"

#include <cstdio>

std::string ModbusExceptionName(int code) {
    switch (code) {
    case 0x01:
        return "недопустимая функция";
    case 0x02:
        return "недопустимый адрес данных";
    case 0x03:
        return "недопустимое значение данных";
    case 0x04:
        return "отказ устройства";
    case 0x05:
        return "подтверждение (выполняется)";
    case 0x06:
        return "устройство занято";
    case 0x08:
        return "ошибка чётности памяти";
    case 0x0A:
        return "шлюз: путь недоступен";
    case 0x0B:
        return "шлюз: устройство не ответило";
    default:
        return {};
    }
}

std::string RefusalText(int address, int code) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(code) & 0xFFu);
    const std::string name = ModbusExceptionName(code);
    return "прибор " + std::to_string(address) + " ответил исключением " + hex +
           (name.empty() ? "" : ": " + name);
}

std::string NoAnswerText(int address, int waitMs, char decimalSeparator) {
    const int tenths = (waitMs + 50) / 100;
    return "нет ответа от прибора " + std::to_string(address) + " за " + std::to_string(tenths / 10) +
           decimalSeparator + std::to_string(tenths % 10) + " с";
}
