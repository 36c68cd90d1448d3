#pragma once
#include <QString>
#include <optional>

#include "settings/Settings.h"
class Prompter;

// zembrin.ini in the folder of the executable.
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
