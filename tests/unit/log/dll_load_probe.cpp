// Loads Hostkeeper.dll the way an agent does and reports whether it loaded.
#include <windows.h>

#include <cstdio>

int main() {
  HMODULE dll = ::LoadLibraryW(L"Hostkeeper.dll");
  if (!dll) {
    std::printf("LoadLibrary failed: %lu\n", ::GetLastError());
    return 1;
  }
  ::FreeLibrary(dll);
  return 0;
}
