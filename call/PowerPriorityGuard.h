#pragma once
// The call engine's power and priority guard: during a call the process and
// the worker thread run at high priority and the machine's power-off,
// low-power and screen-saver switches are off; back at idle the priority is
// normal again and the switches are as they were found. Worker thread only
// (thread priority is the calling thread's).
class CPowerPriorityGuard {
public:
    // Notes the switches as they are now (start-up).
    void Save();
    // Applies what a call state asks for; states without a rule change nothing.
    void Apply(int callState);

private:
    void SaveSwitches();
    void RestoreSwitches() const;

    int m_lowPower = 1;
    int m_powerOff = 1;
    int m_screenSaver = 1;
};
