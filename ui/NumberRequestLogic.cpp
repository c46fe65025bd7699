#include "ui/NumberRequestLogic.h"

#include <algorithm>
#include <cstring>

#include "common/Settings.h"

const char* CNumberRequestLogic::Caption() const {
    switch (m_kind) {
        case 8: return "G722 connection number";
        case 32: return "MPEG connection numbers";
        default: return "Telephone number";
    }
}

void CNumberRequestLogic::Load(const CSettings& settings) {
    switch (m_kind) {
        case 8: m_number[0] = settings.GetMiniISDNG722Number(); break;
        case 32:
            m_number[0] = settings.GetMiniISDNMp2Number(0);
            m_number[1] = settings.GetMiniISDNMp2Number(1);
            break;
        default: m_number[0] = settings.GetMiniISDNG711Number(); break;
    }
}

bool CNumberRequestLogic::Dial(const CSettings& settings) {
    if (m_number[0].empty()) return false;
    switch (m_kind) {
        case 8: settings.SetMiniISDNG722Number(m_number[0].c_str()); break;
        case 32:
            settings.SetMiniISDNMp2Number(0, m_number[0].c_str());
            settings.SetMiniISDNMp2Number(1, m_number[1].c_str());
            if (m_number[1].empty()) m_number[1] = m_number[0];
            break;
        default: settings.SetMiniISDNG711Number(m_number[0].c_str()); break;
    }
    return true;
}

void CNumberRequestLogic::GetNumber(int index, char* buffer, int length) const {
    if (!buffer || length <= 0) return;
    const std::string& number = Number(index);
    const size_t n = std::min(number.size(), static_cast<size_t>(length - 1));
    std::memcpy(buffer, number.data(), n);
    buffer[n] = '\0';
}
