// The library entry under the DllMain contract. The module keeps no per-process or per-thread
// state, so there is nothing to set up or clean up: every notification (process attach and
// detach, thread attach and detach) is answered with 1, and loading never fails here.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
