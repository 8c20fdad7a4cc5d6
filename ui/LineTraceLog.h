// The line driver's trace in the windows: the logging category
// "configurator.line" (off unless switched on, e.g.
// QT_LOGGING_RULES="configurator.line.debug=true"), so that an engineer can
// send what the line did when it misbehaves.
#pragma once
#include <QLoggingCategory>

class LineDriver;

Q_DECLARE_LOGGING_CATEGORY(lineTraceLog)

// Hands `driver`'s trace to the category when it is switched on.
void TraceToLog(LineDriver& driver);
