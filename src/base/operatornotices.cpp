#include "base/operatornotices.h"

#include <QTextStream>

namespace {

void toStandardError(const OperatorNotices::Notice &notice)
{
    QTextStream err(stderr);
    err.setCodec("UTF-8");
    err << notice.title << ": " << notice.text << '\n';
}

OperatorNotices::Handler &current()
{
    static OperatorNotices::Handler handler;
    return handler;
}

} // namespace

void OperatorNotices::warn(const QString &title, const QString &text)
{
    const Notice notice{title, text};
    if (current())
        current()(notice);
    else
        toStandardError(notice);
}

OperatorNotices::Handler OperatorNotices::setHandler(Handler handler)
{
    Handler previous = std::move(current());
    current() = std::move(handler);
    return previous;
}
