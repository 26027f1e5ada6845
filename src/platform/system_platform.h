// The platform of the system tmflash was built for: PosixPlatform or
// WindowsPlatform over the real console. main() uses it; tests do not.
#pragma once

#include "platform/platform.h"

Platform& system_platform();
