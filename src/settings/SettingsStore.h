#pragma once
#include <QString>
#include <optional>

#include "settings/Settings.h"
class Prompter;

// Where the settings file lives, given the program's folder and the values of
// XDG_CONFIG_HOME and HOME. Portable, programDir/zembrin.ini, when that file
// exists or programDir is writable and not a system program folder such as
// /usr/bin (root may write there, but the package manager owns it). Otherwise
// $XDG_CONFIG_HOME/zembrin/zembrin.ini, with home/.config standing in for an
// XDG_CONFIG_HOME that is unset, empty or relative.
QString settingsPathFor(const QString& programDir, const QString& xdgConfigHome,
                        const QString& home);

// settingsPathFor() for this process. When that is the user's folder, the
// missing folders on the way are created (mode 0700), so the file can be
// created there; a folder that cannot be made only means the defaults apply.
QString defaultSettingsPath();

// Start-up load: settings, the dialog's controls and the line-break tokens.
void loadSettings(const QString& iniPath, Settings& settings, SettingsDialogState& dialog);

// The dialog's save button: checks, writes the file and updates the settings.
// False (after a message) when a check fails; nothing is then changed.
bool saveSettings(const SettingsDialogState& dialog, Settings& settings, const QString& iniPath,
                  Prompter& prompter);

// A decimal number: optional surrounding spaces, optional sign, digits with an
// optional fraction.
bool isNumeric(const QString& text);
// The nearest 16-bit integer (a half goes to the even neighbour); empty when
// the text is not numeric or the value is outside the 16-bit range.
std::optional<qint16> toInt16(const QString& text);
