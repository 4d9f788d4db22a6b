// Starts Kelvo.exe (beside this program) in the current directory, then waits to be killed.
#include <windows.h>

#include <string>

int main() {
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string exe(self, n);
  exe = exe.substr(0, exe.find_last_of('\\') + 1) + "Kelvo.exe";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  Sleep(INFINITE);
  return 0;
}
