// What the Linux shim reads besides the kernel's answers.
#pragma once

namespace platform {

// The file that lists the online processors as ranges ("0-3,5"). Tests point
// it at a file of their own.
extern const char* g_onlineProcessorsPath;

}  // namespace platform
