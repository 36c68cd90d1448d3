#pragma once
#include <QString>
class TaskWindow;

// The buttons "保存" and "载入" (question, dialogs, messages included).
void saveTaskClick(TaskWindow& w);
void loadTaskClick(TaskWindow& w);

// Reads a task file into the window as the load button does, without the
// question, the dialog and the closing message. False (with a reason) when
// the file does not exist or cannot be read.
bool readTaskFile(TaskWindow& w, const QString& path, QString* error);

// Writes the window's task to path atomically. False (with a reason) when
// the file could not be written; the old file is then left whole.
bool writeTaskFile(const TaskWindow& w, const QString& path, QString* error);
