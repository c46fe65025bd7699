#include "common/SharedState.h"

SharedState* g_sharedState = nullptr;
