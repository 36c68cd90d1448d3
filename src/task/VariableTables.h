#pragma once
#include <QString>
#include <QStringList>
#include "task/TaskContext.h"

// Builds reg (Form1 = fixed-content body), md5_table, url_vars values, the
// dynamic boxes' lines, domain_list and domain_lines from the boxes, after
// ValidateTask succeeded.
void BuildVariableTables(TaskContext& w);

// Every "{\n}" becomes "%0D%0A" (the line-break token table).
QString ExpandLineBreaks(const QString& text);

// Fills the line-break token table; part of loading the settings at start-up.
void installLineBreakTokens();
