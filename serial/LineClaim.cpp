// The one holder of the port's answers; everything runs on the GUI thread.
#include "serial/LineClaim.h"

namespace {
const void* holder = nullptr;
std::string activity;
} // namespace

const std::string& LineHolderActivity() {
    return activity;
}

bool ClaimLine(const void* owner, std::string what) {
    if (holder && holder != owner) return false;
    holder = owner;
    activity = std::move(what);
    return true;
}

void ReleaseLine(const void* owner) {
    if (holder != owner) return;
    holder = nullptr;
    activity.clear();
}

bool LineHeldByOther(const void* owner) {
    return holder && holder != owner;
}

std::string LineBusyText() {
    return "Линия занята: идёт " + activity + ". Дождитесь конца или остановите его.";
}
