#pragma once

#include <QString>
#include <functional>

// Warnings for the operator raised below the window (a driver that refused a
// calibration, say). The window shows them in a box without waiting for an
// answer; orvexctl prints them on standard error. Warning never blocks and
// never runs events, so a driver may warn in the middle of a cycle.
class OperatorNotices
{
public:
    struct Notice
    {
        QString title;
        QString text;
    };
    using Handler = std::function<void(const Notice &)>;

    static void warn(const QString &title, const QString &text);
    // Replaces the handler; an empty one restores the default (standard error
    // and the log). Returns the previous handler.
    static Handler setHandler(Handler handler);
};
