// quillon_planted.dll: a DLL that the tests plant beside the test program
// and in the current directory, to see that a DLL loaded by name comes from
// the system folder only. It does nothing.
#include <windows.h>

extern "C" __declspec(dllexport) int QuillonPlanted() { return 1; }
