// Records every message box the code under test shows, in order.
#pragma once
#include "base/Messages.h"

#include <functional>
#include <string>
#include <vector>

struct RecordedMessage {
    std::string text;
    std::string caption;
    MessageIcon icon;
    bool operator==(const RecordedMessage&) const = default;
};

class MessageRecorder : public MessagePresenter {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;
    std::vector<RecordedMessage> messages;
    // Runs while a message is "open" (a modal box's nested loop), if set.
    std::function<void(const RecordedMessage&)> onShow;
    void Clear() {
        messages.clear();
        onShow = nullptr;
    }
};

// The recorder installed by the tests' main().
MessageRecorder& TheRecorder();

// For failure output: "caption | text" lines.
std::string Describe(const std::vector<RecordedMessage>& messages);

void PrintTo(const RecordedMessage& m, std::ostream* os);
