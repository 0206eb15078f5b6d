#include "app/busoption.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    QString error;
    if (!BusOption::install(args, &error)) {
        QTextStream(stderr) << error << "\n";
        return 2;
    }
    return 0;
}
