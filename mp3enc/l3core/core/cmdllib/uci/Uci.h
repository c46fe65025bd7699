#pragma once
// The option registry of the encoder library: the encoder interface sets
// tuning values by name, as text, inside a scope; each stage created in that
// scope reads the ones it knows with a typed getter that leaves the stage's
// default alone when the option was not set.
//
// One registry serves the process. A scope belongs to the thread that began
// it: UciBegin on another thread waits until UciEnd, so two encoders opened on
// different threads never see each other's options. Outside a scope of its
// own a thread's UciSet stores nothing and every getter returns 0 with the
// default kept. Not for a real-time thread (the scope is a lock).

// Getter results.
inline constexpr int kUciDone = 0;
inline constexpr int kUciRangeFailed = 2;
inline constexpr int kUciTooFew = 3;
inline constexpr int kUciTooMany = 4;
inline constexpr int kUciNotInTable = 8;
inline constexpr int kUciOutOfMemory = 9;

inline constexpr int kUciMaxItems = 1000;
inline constexpr int kUciMaxSetNames = 20;

// 0, or 9 when the tables cannot be allocated (no scope is then open).
int UciBegin();
void UciEnd();
// 0 (also when ignored: null name, 20 names already set, no scope), or 9.
int UciSet(const char* name, const char* value);

// Every getter: 0 done or not set, 2 a value outside [minimum, maximum]
// (checked when they differ; values before it are stored), 3 too few values,
// 4 too many (the first count are stored), 8 not in the table.
int UciGetIntVector(const char* name, int count, int minimum, int maximum, const char* help,
                    const char* longHelp, int* values);
int UciGetInt(const char* name, int minimum, int maximum, const char* help, const char* longHelp,
              int* value);
int UciGetFloatVector(const char* name, int count, float minimum, float maximum, const char* help,
                      const char* longHelp, float* values);
int UciGetFloat(const char* name, float minimum, float maximum, const char* help, const char* longHelp,
                float* value);
// The int becomes 1 when the option was set in this scope, else 0; a value
// given to a switch gives 4.
int UciGetSwitch(const char* name, const char* help, const char* longHelp, int* value);
