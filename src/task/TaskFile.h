#pragma once
#include <QByteArray>
#include <QString>
#include "task/TaskContext.h"

// The buttons "保存" and "载入" (question, dialogs, messages included).
void saveTaskClick(TaskContext& w);
void loadTaskClick(TaskContext& w);

// Reads a task file into the window as the load button does, without the
// question, the dialog and the closing message. False, with the message to
// show and nothing loaded, when the file does not exist, cannot be read or
// is too large to be a task.
bool readTaskFile(TaskContext& w, const QString& path, QString* error);

// The loading rules applied to a task file's bytes (what readTaskFile does
// once it has read the file).
void applyTaskFileBytes(TaskContext& w, const QByteArray& bytes);

// Writes the window's task to path atomically; a new file is readable by its
// owner only, a replaced one keeps its mode. False (with a reason) when the
// file could not be written; the old file is then left whole.
bool writeTaskFile(const TaskContext& w, const QString& path, QString* error);
