// Loads Hostkeeper.dll the way an agent does; exits with 0 when it loaded.
#include <windows.h>

int main() {
  HMODULE dll = ::LoadLibraryW(L"Hostkeeper.dll");
  if (!dll) return static_cast<int>(::GetLastError());
  ::FreeLibrary(dll);
  return 0;
}
