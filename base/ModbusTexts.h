// What a meter's answer to a request means, in words for the user (UTF-8):
// the standard Modbus exception codes by name, a refusal and a silence.
#pragma once
#include <cstdint>
#include <string>

// The Russian name of a Modbus exception code; "" for a code the standard
// does not name.
std::string ModbusExceptionName(int code);

// "прибор 5 ответил исключением 02: недопустимый адрес данных" (the name
// left out for an unnamed code).
std::string RefusalText(int address, int code);

// "нет ответа от прибора 5 за 3,0 с": no complete answer within `waitMs`,
// the seconds written with `decimalSeparator`.
std::string NoAnswerText(int address, int waitMs, char decimalSeparator);
