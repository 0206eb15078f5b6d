#pragma once

#include <QString>

// Where the program keeps the files it writes for itself (the "-v1" log, the
// MQTT queue). Run from its build folder it keeps them where it always has:
// the log in "Logs" beside the binary, the queue in the user's data folder.
// Installed (the binary in the install prefix's bin folder, which the user
// cannot write), it uses the user's state folder instead.
namespace InstallPaths {

// True when the running binary's folder is one of the bin folders it may be
// installed to (ORVEX_INSTALL_BINDIR, separated by ':': the install prefix's
// and the package's), symbolic links resolved.
bool installed();
// The same test for any two folders; false when either does not exist.
bool sameFolder(const QString &programFolder, const QString &installBinFolder);

// $XDG_STATE_HOME/orvex, or ~/.local/state/orvex when the variable is unset
// or not an absolute path (the XDG rule).
QString stateFolder();

// The folder that holds the "Logs" folder: the state folder when installed,
// else the binary's own folder.
QString logParentFolder();

// The MQTT queue's default folder: "mqtt" in the state folder when installed,
// else "Tresvant/Орвекс/mqtt" in the user's data folder.
QString mqttQueueFolder();

// The user guide (Markdown, its pictures beside it): "share/orvex/doc" next
// to the installed binary's bin folder, else the source tree's docs folder.
QString userGuide();

} // namespace InstallPaths
