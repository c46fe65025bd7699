#include "platform/exchange/ExchangeConfig.h"

#include <fstream>
#include <sstream>

namespace {
bool AllDigits(const std::string& s) {
    if (s.empty() || s.size() > 30) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}
}  // namespace

bool LoadExchangeConfig(const std::string& path, ExchangeConfig* config, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    *config = ExchangeConfig();
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword)) continue;
        bool ok = false;
        if (keyword == "controller") {
            ExchangeController c;
            ok = static_cast<bool>(words >> c.number >> c.channels) && c.number >= 1 && c.number <= 127 &&
                 (c.channels == 1 || c.channels == 2 || c.channels == 30);
            for (std::string msn; ok && words >> msn;) {
                ok = AllDigits(msn);
                c.msns.push_back(msn);
            }
            for (const ExchangeController& other : config->controllers) ok = ok && other.number != c.number;
            if (ok) config->controllers.push_back(c);
        } else if (keyword == "noanswer") {
            ok = static_cast<bool>(words >> config->noAnswerMs) && config->noAnswerMs > 0;
        }
        if (!ok) {
            *error = path + ":" + std::to_string(lineNumber) + ": cannot use \"" + line + "\"";
            return false;
        }
    }
    if (config->controllers.empty()) {
        *error = path + ": no controller";
        return false;
    }
    return true;
}
