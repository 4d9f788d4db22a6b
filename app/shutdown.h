#ifndef TALLSNAP_APP_SHUTDOWN_H
#define TALLSNAP_APP_SHUTDOWN_H

// Runs while the main window is destroyed; ends with the quit message.
void Shutdown();

// Deletes every file directly inside folder, then the folder itself unless keepFolder.
void DeleteFolderFiles(const char* folder, bool keepFolder);

#endif
