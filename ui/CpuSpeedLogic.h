#pragma once
// The processor-speed question asked on a first start: OK stays disabled
// until one answer is chosen, and only OK ends the question. Plain logic
// under CCpuSpeedDlg. GUI thread.

class CCpuSpeedLogic {
public:
    enum Choice { kNone = -1, kSlower = 0, kFaster = 1 };
    // What pressing OK does.
    enum Outcome { kStayOpen, kEndFast, kEndSlow };

    // The dialog's first timer tick: it opens with OK disabled.
    void FirstTick() { m_okEnabled = false; }
    void Choose(Choice choice) {
        m_choice = choice;
        m_okEnabled = true;
    }
    Outcome PressOk() {
        if (m_choice == kFaster) return kEndFast;
        if (m_choice == kSlower) return kEndSlow;
        m_okEnabled = false;
        return kStayOpen;
    }
    bool OkEnabled() const { return m_okEnabled; }
    Choice Chosen() const { return m_choice; }
    // The [Main] FastCPU value of a dialog result (1 IDOK, anything else slow).
    static int FastCpuOf(int result) { return result == 1 ? 1 : 0; }

private:
    Choice m_choice = kNone;
    bool m_okEnabled = true;
};
