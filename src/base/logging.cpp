#include "base/logging.h"

const QLoggingCategory &logDebug()
{
    static const QLoggingCategory category("Debug");
    return category;
}

const QLoggingCategory &logInfo()
{
    static const QLoggingCategory category("Info");
    return category;
}

const QLoggingCategory &logWarning()
{
    static const QLoggingCategory category("Warning");
    return category;
}

const QLoggingCategory &logCritical()
{
    static const QLoggingCategory category("Critical");
    return category;
}
