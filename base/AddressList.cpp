// Meter addresses written as a list with ranges.
#include "base/AddressList.h"

#include "base/StrToInt.h"

#include <algorithm>
#include <set>

std::vector<int> ParseAddressList(const std::string& text, std::string& error) {
    std::vector<int> out;
    std::set<int> seen;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const std::size_t dash = item.find('-', 1);
        int low = 0, high = 0;
        const bool ok = dash == std::string::npos ? TryStrToInt(item, low) && (high = low, true)
                                                  : TryStrToInt(item.substr(0, dash), low) &&
                                                        TryStrToInt(item.substr(dash + 1), high);
        if (!ok || low < 0 || high > 255 || low > high) {
            error = "неверный адрес или диапазон '" + item + "': нужны адреса 0..255, например 1,5,7-9";
            return {};
        }
        for (int a = low; a <= high; ++a)
            if (seen.insert(a).second) out.push_back(a);
        at = comma + 1;
    }
    return out;
}
