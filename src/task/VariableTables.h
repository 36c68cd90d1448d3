#pragma once
#include <QString>
#include <QStringList>
#include "task/TaskContext.h"

// Builds reg (Form1 = fixed-content body), md5_table, url_vars values and
// domain_list from the boxes, after ValidateTask succeeded.
void BuildVariableTables(TaskContext& w);

// The line of a dynamic box that supplied entry `entry` of the domain list
// (0 when there is none): every non-blank line gives one value, and a value
// with commas one entry per comma-separated piece.
int lineOfDomainEntry(const QStringList& lines, const QString& domainVar, int entry);

// Every "{\n}" becomes "%0D%0A" (the line-break token table).
QString ExpandLineBreaks(const QString& text);

// Fills the line-break token table; part of loading the settings at start-up.
void installLineBreakTokens();
