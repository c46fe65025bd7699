#include "platform/VirtualDeviceText.h"

#include <charconv>
#include <cmath>

bool ReadVirtualDeviceText(std::string_view text, std::string* name,
                           const std::function<bool(std::string_view key, std::string_view value)>& take) {
    size_t comma = text.find(',');
    *name = std::string(text.substr(0, comma));
    while (comma != std::string_view::npos) {
        text = text.substr(comma + 1);
        comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const size_t eq = item.find('=');
        if (eq == std::string_view::npos || !take(item.substr(0, eq), item.substr(eq + 1))) return false;
    }
    return true;
}

bool ParseVirtualNumber(std::string_view text, double* out) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), *out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(*out) && std::fabs(*out) <= 1e6;
}
