#pragma once

#include <QString>
#include <functional>
#include <utility>

// Warnings for the operator raised below the window (a driver that refused a
// calibration, say). Each measurement has its own (Sensor::notices()); the
// window shows them in a box without waiting for an answer, orvexctl leaves
// them on standard error. Warning never blocks and never runs events, so a
// driver may warn in the middle of a cycle.
class OperatorNotices
{
public:
    struct Notice
    {
        QString title;
        QString text;
    };
    using Handler = std::function<void(const Notice &)>;

    // To the handler; without one, on standard error.
    void warn(const QString &title, const QString &text) const;
    // Replaces the handler; an empty one restores standard error.
    void setHandler(Handler handler) { m_handler = std::move(handler); }

private:
    Handler m_handler;
};
