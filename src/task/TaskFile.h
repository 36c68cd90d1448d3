#pragma once
#include <QByteArray>
#include <QString>
class TaskWindow;

// The buttons "保存" and "载入" (question, dialogs, messages included).
void saveTaskClick(TaskWindow& w);
void loadTaskClick(TaskWindow& w);

// Reads a task file into the window as the load button does, without the
// question, the dialog and the closing message. False (with a reason) when
// the file does not exist or cannot be read.
bool readTaskFile(TaskWindow& w, const QString& path, QString* error);

// The loading rules applied to a task file's bytes (what readTaskFile does
// once it has read the file).
void applyTaskFileBytes(TaskWindow& w, const QByteArray& bytes);

// Writes the window's task to path atomically. False (with a reason) when
// the file could not be written; the old file is then left whole.
bool writeTaskFile(const TaskWindow& w, const QString& path, QString* error);
