// Stands in for a Kelvo.exe whose window appears and then never answers a message again. Ends
// with the program that started it (or after a minute).
#include <windows.h>
#include <tlhelp32.h>

int main() {
  CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "圧縮ファイルBMP変換だぞ", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                  nullptr);
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  HANDLE starter = OpenProcess(SYNCHRONIZE, FALSE, parent);
  // No message is ever read from here on.
  if (starter != nullptr) WaitForSingleObject(starter, 60000);
  else Sleep(60000);
  return 0;
}
