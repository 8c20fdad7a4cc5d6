// Fault knobs: names, the command-line text form, and the table that decides
// which armed fault strikes at each pass of a step.
#include "sim/Faults.h"

#include "sim/TextParts.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace sim {
namespace {

struct StepNameEntry {
    Step step;
    const char* name;
};
const StepNameEntry StepNames[] = {
    {Step::Ready, "ready"},
    {Step::Command, "command"},
    {Step::Header, "header"},
    {Step::Data, "data"},
    {Step::Final, "final"},
    {Step::PacketReady, "packet-ready"},
    {Step::PacketStatus, "packet-status"},
    {Step::MeterRequest, "meter-request"},
    {Step::MeterAnswer, "meter-answer"},
};

struct KindNameEntry {
    FaultKind kind;
    const char* name;
};
const KindNameEntry KindNames[] = {
    {FaultKind::NoAnswer, "none"},       {FaultKind::Byte, "byte"},       {FaultKind::Short, "short"},
    {FaultKind::Exception, "exception"}, {FaultKind::Corrupt, "corrupt"}, {FaultKind::Drop, "drop"},
    {FaultKind::Delay, "delay"},         {FaultKind::Close, "close"},     {FaultKind::Burst, "burst"},
};

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

} // namespace

std::optional<Fault> ParseFault(const std::string& text, std::string* error) {
    auto parts = Split(text, ':');
    if (parts.size() < 2) {
        Fail(error, "expected STEP:KIND in '" + text + "'");
        return std::nullopt;
    }
    Fault f;
    auto step = std::find_if(std::begin(StepNames), std::end(StepNames),
                             [&](const StepNameEntry& e) { return parts[0] == e.name; });
    if (step == std::end(StepNames)) {
        Fail(error, "unknown step '" + parts[0] + "'");
        return std::nullopt;
    }
    f.step = step->step;

    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::string key = parts[i], value;
        auto eq = key.find('=');
        if (eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        }
        int number = 0;
        if (eq != std::string::npos && !ParseNumber(value, number)) {
            Fail(error, "bad number '" + value + "'");
            return std::nullopt;
        }
        if (i == 1) {
            auto kind = std::find_if(std::begin(KindNames), std::end(KindNames),
                                     [&](const KindNameEntry& e) { return key == e.name; });
            if (kind == std::end(KindNames)) {
                Fail(error, "unknown fault kind '" + key + "'");
                return std::nullopt;
            }
            f.kind = kind->kind;
            f.value = number;
        } else if (key == "times" && eq != std::string::npos) {
            f.times = number;
        } else if (key == "after" && eq != std::string::npos) {
            f.after = number;
        } else if (key == "index" && eq != std::string::npos) {
            f.index = number;
        } else if (key == "trail01" && eq == std::string::npos) {
            f.trailing01 = true;
        } else {
            Fail(error, "unknown option '" + parts[i] + "'");
            return std::nullopt;
        }
    }
    if (f.times == 0 || f.times < -1 || f.after < 0) {
        Fail(error, "times must be -1 or positive, after not negative");
        return std::nullopt;
    }
    return f;
}

std::optional<Fault> FaultTable::Pass(Step step, const std::vector<FaultKind>& kinds) {
    std::optional<Fault> strike;
    for (auto& f : faults_) {
        if (f.step != step) continue;
        if (!kinds.empty() && std::find(kinds.begin(), kinds.end(), f.kind) == kinds.end()) continue;
        if (f.after > 0) {
            --f.after;
            continue;
        }
        if (strike || f.times == 0) continue;
        strike = f;
        if (f.times > 0) --f.times;
    }
    faults_.erase(std::remove_if(faults_.begin(), faults_.end(), [](const Fault& f) { return f.times == 0; }),
                  faults_.end());
    return strike;
}

} // namespace sim
