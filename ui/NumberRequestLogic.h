#pragma once
// The number request of the simplified ISDN mode: one number for a
// telephone (kind 2) or G.722 (8) call, two for an MPEG call (32). Plain
// logic under CNumberRequestDlg.
//
// Threads: GUI thread.
#include <string>

class CSettings;

class CNumberRequestLogic {
public:
    explicit CNumberRequestLogic(int kind = 2) { SetKind(kind); }
    void SetKind(int kind) { m_kind = kind == 8 || kind == 32 ? kind : 2; }
    int Kind() const { return m_kind; }
    bool HasSecondNumber() const { return m_kind == 32; }
    const char* Caption() const;

    void Load(const CSettings& settings);
    void SetNumber(int index, const std::string& text) { m_number[index == 1 ? 1 : 0] = text; }
    const std::string& Number(int index) const { return m_number[index == 1 ? 1 : 0]; }
    // Dial: false (nothing stored) when the first number is empty; else
    // stores by kind, and for MPEG a blank second number takes the first.
    bool Dial(const CSettings& settings);
    // The number, at most length - 1 characters, always terminated.
    void GetNumber(int index, char* buffer, int length) const;

private:
    int m_kind = 2;
    std::string m_number[2];
};
