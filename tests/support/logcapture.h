#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects every message logged while it is alive (the previous handler is
// restored afterwards). One at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    // "category: text", in order.
    QStringList lines() const { return m_lines; }
    // The texts alone, in order.
    QStringList texts() const { return m_texts; }
    // How many texts begin with `start`.
    int count(const QString &start) const;
    void clear();

private:
    static void handler(QtMsgType, const QMessageLogContext &context, const QString &text);
    QtMessageHandler m_previous;
    QStringList m_lines;
    QStringList m_texts;
};
