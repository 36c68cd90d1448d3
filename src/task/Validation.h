#pragma once
#include "task/TaskContext.h"

// Tidies the boxes and checks the task; shows the first problem's message and
// returns false. Records domain_source, api_url, url_template_mode, url_vars.
bool ValidateTask(TaskContext& w);
// The same checks and records without the message box: the first problem's
// message, or the empty text when the task is fine.
QString taskProblem(TaskContext& w);
