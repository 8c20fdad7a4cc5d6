// The line driver's trace as debug messages of its own category.
#include "ui/LineTraceLog.h"

#include "serial/LineDriver.h"

Q_LOGGING_CATEGORY(lineTraceLog, "configurator.line", QtWarningMsg)

void TraceToLog(LineDriver& driver) {
    if (!lineTraceLog().isDebugEnabled()) return;
    driver.SetTrace(
        [](const std::string& line) { qCDebug(lineTraceLog).noquote() << QString::fromStdString(line); });
}
