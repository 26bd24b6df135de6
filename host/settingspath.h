#pragma once
// Where the host keeps its settings file and finds its help text, for a program folder given
// with a trailing separator.
#include <QString>

namespace vardex::host {

// cnsetting.ini beside the executable where that file (or, while it does not exist yet, the
// folder) can be written; otherwise $XDG_CONFIG_HOME/vardex/cnsetting.ini ($HOME/.config when
// XDG_CONFIG_HOME is not set), as for a host installed in a system folder.
QString settingsFilePath(const QString& appPath);

// Readme.txt beside the executable, else the installed copy in share/doc/vardex; while English is
// chosen, Readme.en.txt from the same places when it is there.
QString helpFilePath(const QString& appPath);

// Creates the folder of a settings file that lies outside the program folder. False when it
// cannot be created.
bool prepareSettingsFolder(const QString& settingsFile);

} // namespace vardex::host
