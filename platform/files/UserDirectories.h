#pragma once

#include <QString>

#include <optional>

// The per-user folders of the program, following the XDG base directory rules.
// All of them are created private (mode 0700); the one place that knows their names.
namespace UserDirectories {

// $XDG_CONFIG_HOME/portraitperch (~/.config/portraitperch when unset): the defaults database.
QString configDirectory();

// $XDG_DATA_HOME/portraitperch (~/.local/share/portraitperch when unset): the notification store.
QString dataDirectory();

// $XDG_CONFIG_HOME/autostart (~/.config/autostart when unset): the programs that desktop
// sessions start at login. Shared with other programs, so it is not made private.
QString autostartDirectory();

// $XDG_CONFIG_HOME/systemd/user (~/.config/systemd/user when unset): the units of the user's
// own service manager. Shared with other programs, so it is not made private.
QString userUnitDirectory();

// The private temporary folder: $XDG_RUNTIME_DIR/portraitperch, else <tmp>/portraitperch-<uid>.
// A runtime folder that is not a real folder of this user is not used. When another user
// (or a link) holds <tmp>/portraitperch-<uid>, a folder made for this user alone under <tmp>
// takes its place; the config folder keeps its name, so that every start of either edition
// finds the same one until it is gone (after a reboot, say) and a new one is made.
QString temporaryDirectory();

// Why $XDG_RUNTIME_DIR is set but cannot be used, or nothing.
std::optional<QString> runtimeDirectoryProblem();

// One line on why the usual temporary folder is not used and which one is used instead,
// or nothing when the usual one is; for the program to say once, at start.
std::optional<QString> temporaryDirectoryNotice();

// Creates `path` (and its parents) if needed and makes sure that it is a real folder,
// owned by this user, reachable by nobody else. A symbolic link or a folder of another
// user is refused, never followed or changed. On failure `error` says why.
bool makePrivateDirectory(const QString& path, QString* error);

// The folder at `path`, with a link there followed when the link and the folder it leads to
// are both this user's (as the user's service manager follows a linked unit folder); none,
// with `error` saying why, for a link of or to another user, or one that leads nowhere.
std::optional<QString> followOwnLink(const QString& path, QString* error);

} // namespace UserDirectories
