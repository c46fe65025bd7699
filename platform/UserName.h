#pragma once
// The name of the user running the program, as GetUserNameA gives it.
#include <cstdint>

// Copies the name with its terminator into buffer; *size is the buffer size on
// entry and the bytes written (with the terminator) on return. 0 when the
// buffer is too small (then *size is the size needed) or no name is known.
int GetUserNameA(char* buffer, uint32_t* size);
