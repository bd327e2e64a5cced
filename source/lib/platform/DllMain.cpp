// Windows entry point: the library keeps no per-thread state that needs
// making or ending with a thread (its one slot of thread-local storage holds
// a value, not memory), so it asks not to be told about threads.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
