// Stands in for a Kelvo.exe that misbehaves, built twice: silent_kelvo never shows its window;
// hung_kelvo shows it and then never reads a message again. Both end with the program that
// started them (or after a minute).
#include <windows.h>
#include <tlhelp32.h>

int main() {
#if FAKE_KELVO_HUNG
  CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "圧縮ファイルBMP変換だぞ", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                  nullptr);
#endif
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
