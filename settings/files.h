// The settings folder, its files and the small file routines every subsystem uses. All paths
// are relative to the current directory, where start-up creates the settings folder and the
// surfaces' scratch folder.
#ifndef TALLSNAP_SETTINGS_FILES_H
#define TALLSNAP_SETTINGS_FILES_H

#include <windows.h>

#include <string>

#define TALLSNAP_SETTINGS_DIR "TallSnap個人設定"
constexpr const char* kSettingsFolder = TALLSNAP_SETTINGS_DIR;
constexpr const char* kSaveFolderFile = TALLSNAP_SETTINGS_DIR "\\FileHozonPath.txt";
constexpr const char* kMainWndPosFile = TALLSNAP_SETTINGS_DIR "\\MainWnd.txt";
constexpr const char* kFormatFile = TALLSNAP_SETTINGS_DIR "\\形式.txt";
constexpr const char* kLastFolderFile = TALLSNAP_SETTINGS_DIR "\\保存先指定.txt";

// Line n (from 0) of a text file; empty when it cannot be opened or has no such line.
std::string FileReadLine(const char* path, int n);
// Replaces the file with the text and one zero byte; a failure is silent.
void FileWriteText(const char* path, const std::string& text);
// Replaces the file with exactly count bytes; returns the number written.
DWORD FileWriteMy2(const char* path, const void* bytes, DWORD count);
// 1 when the file can be opened exclusively for reading: a file held open by another program
// and a folder both count as absent.
int FileExists(const char* path);

void MainWndLoadPos(const char* path, HWND window);
void MainWndSavePos(const char* path, HWND window);

// Save folder, window position and format as the previous run left them.
void LoadSettings();
// Written while the main window is destroyed, before anything is released.
void SaveSettings();

#endif
