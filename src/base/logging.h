#pragma once

#include <QLoggingCategory>

// The program's logging categories. Every message is issued at debug level,
// plainly (category "default") or on one of these.
const QLoggingCategory &logDebug();    // "Debug"
const QLoggingCategory &logInfo();     // "Info": search and "Add Sensor" traces
const QLoggingCategory &logWarning();  // "Warning"
const QLoggingCategory &logCritical(); // "Critical": path, ROM read and writer errors
