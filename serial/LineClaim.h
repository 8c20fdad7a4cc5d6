// Who takes the answers that arrive on the program's port. A conversation
// whose answers a window awaits (an archive read, a scan, a batch, polling,
// the packet monitor's receive loop) claims the line for its run; any other
// window that would send or read meanwhile asks first and is told who holds
// it, so no answer is taken by the wrong reader.
#pragma once
#include <string>

// The holder's activity as the user reads it, in Russian, e.g. "чтение
// суточного архива"; empty when the line is free.
const std::string& LineHolderActivity();

// Claims the line for `owner` (any stable address: the logic object that
// runs the conversation). True when the line was free or already held by
// `owner`, whose activity text is then replaced.
bool ClaimLine(const void* owner, std::string activity);
// Gives the line back; nothing when `owner` does not hold it.
void ReleaseLine(const void* owner);
// Whether someone other than `owner` holds the line.
bool LineHeldByOther(const void* owner);
// The short message for a window refused while another holds the line:
// "Линия занята: идёт <activity>. Дождитесь конца или остановите его."
std::string LineBusyText();
// The caption of that message.
inline constexpr const char* LineBusyCaption = "ЛИНИЯ ЗАНЯТА";

// A claim held for a scope; `Held()` tells whether it was granted.
class ScopedLineClaim {
public:
    ScopedLineClaim(const void* owner, std::string activity)
        : owner_(owner), held_(ClaimLine(owner, std::move(activity))) {}
    ~ScopedLineClaim() {
        if (held_) ReleaseLine(owner_);
    }
    ScopedLineClaim(const ScopedLineClaim&) = delete;
    ScopedLineClaim& operator=(const ScopedLineClaim&) = delete;
    bool Held() const { return held_; }

private:
    const void* owner_;
    bool held_;
};
