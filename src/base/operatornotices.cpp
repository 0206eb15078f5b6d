#include "base/operatornotices.h"

#include <QTextStream>

void OperatorNotices::warn(const QString &title, const QString &text) const
{
    const Notice notice{title, text};
    if (m_handler) {
        m_handler(notice);
        return;
    }
    QTextStream err(stderr);
    err.setCodec("UTF-8");
    err << notice.title << ": " << notice.text << '\n';
}
