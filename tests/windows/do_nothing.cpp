// Ends at once with exit code 1: what starting any GUI program under Wine costs (the benchmark).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return 1;
}
