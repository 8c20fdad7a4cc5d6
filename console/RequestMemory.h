// The console's request fields remembered between runs: what the window
// stores when a request is sent and when it closes, and what it takes back
// when it opens.
#pragma once
#include <map>
#include <string>

struct RequestFields {
    std::string Address = "1";
    std::string Function = "4";
    std::string Register = "0";
    std::string Count = "4"; // with function 16, the text to write
    std::string DeviceType;  // the reference model's name, as typed
    int PollIntervalMs = 1000;
};

// The fields as stored: key -> text (UTF-8).
std::map<std::string, std::string> StoredRequestFields(const RequestFields& fields);
// The stored values taken back: a value that is missing, or one the field
// would not take, leaves the field at its default without a word.
RequestFields RestoredRequestFields(const std::map<std::string, std::string>& stored);
