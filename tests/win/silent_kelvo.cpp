// Stands in for a Kelvo.exe that starts but never shows its window. Ends with the program that
// started it (or after a minute).
#include <windows.h>
#include <tlhelp32.h>

int main() {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  HANDLE starter = OpenProcess(SYNCHRONIZE, FALSE, parent);
  if (starter != nullptr) WaitForSingleObject(starter, 60000);
  else Sleep(60000);
  return 0;
}
