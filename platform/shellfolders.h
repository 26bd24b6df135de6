#pragma once
// The fixed folders the file storage can extract into: the system's own folders and the
// current user's shell folders.
//
// On Windows these are the Windows, system and temporary folders and the values under
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders. On Linux
// there is no such thing, so each has a stand-in with the same role:
//
//   Windows folder     the system's shared data folder: the last XDG data folder (/usr/share)
//   system folder      /usr/lib, where the system's shared libraries live
//   temporary folder   QDir::tempPath() (honours TMPDIR), with a trailing '/'
//   program files      /opt
//   "Desktop"          XDG desktop folder
//   "Personal"         XDG documents folder
//   "My Pictures"      XDG pictures folder
//   "AppData"          XDG data home (~/.local/share)
//
// Folder names come without a trailing separator, except the temporary folder, which the
// platform reports with one.
#include <QString>
#include <optional>

namespace vardex {

QString windowsFolder();
QString systemFolder();
QString tempFolder();
// The program-files folder of the drive the system lives on.
QString programFilesFolder();

// A shell-folder value by its registry name ("Desktop", "Personal", "My Pictures",
// "AppData"). A value that does not exist reads as empty text; a value that cannot be read as
// text gives no answer at all.
std::optional<QString> shellFolder(const QString& valueName);

} // namespace vardex
