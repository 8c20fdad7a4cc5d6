// Event handlers run through RunHandler: a conversion error (or any other
// exception) is shown the way the application shows exceptions, a box with
// the message, and ends the handler there. No exception crosses Qt's loop.
#pragma once
#include <functional>

void RunHandler(const std::function<void()>& handler);

// Wraps a handler for connect(): Guard([this] { ReadClick(); }).
template <class F> auto Guard(F handler) {
    return [handler]() { RunHandler(handler); };
}
