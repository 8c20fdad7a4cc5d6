#include "support/Recorder.h"

#include <ostream>

void MessageRecorder::Show(const std::string& text, const std::string& caption, MessageIcon icon) {
    messages.push_back({text, caption, icon});
    if (onShow) onShow(messages.back());
}

MessageRecorder& TheRecorder() {
    static MessageRecorder recorder;
    return recorder;
}

std::string Describe(const std::vector<RecordedMessage>& messages) {
    std::string out;
    for (const auto& m : messages)
        out += m.caption + " | " + m.text + "\n";
    return out;
}

void PrintTo(const RecordedMessage& m, std::ostream* os) {
    const char* icon = m.icon == MessageIcon::Information ? "information"
                       : m.icon == MessageIcon::Error     ? "error"
                                                          : "warning";
    *os << "{\"" << m.text << "\", \"" << m.caption << "\", " << icon << "}";
}
