// A window-less program that ends at once with exit code 1, built like qnetprep.exe: the
// benchmark's measure of what starting any program under Wine costs.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return 1;
}
