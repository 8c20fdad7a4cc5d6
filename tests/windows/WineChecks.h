// What the window tests under Wine share: checks that count their failures
// and print them (QtTest would log to the debugger there), and message boxes
// printed instead of waiting for a click nobody gives.
#pragma once
#include "base/Messages.h"

#include <cstdio>
#include <string>

inline int failures = 0;

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

class PrintingPresenter : public MessagePresenter {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon) override {
        std::fprintf(stderr, "message: %s: %s\n", caption.c_str(), text.c_str());
        ++shown;
    }
    int shown = 0;
};
