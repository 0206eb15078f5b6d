// ds2490-emu: runs a command inside a umockdev test bed in which an emulated
// DS2490 USB 1-Wire adapter (04FA:2490 at 1-2) is plugged in, in front of a
// simulated bus, as ds2480-emu offers a serial port. Programs that use libusb
// (orvexctl, owserver -u) find the adapter there and drive it; the command's
// exit status is this program's.

#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds2490.h"
#include "support/usbtestbed.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: ds2490-emu [BUSFILE] -- COMMAND [ARGUMENT...]\n"
    "  BUSFILE   the simulated bus (a bus file as for --bus=sim:FILE; default: the demo bus)\n"
    "  COMMAND   runs with the emulated adapter plugged in at USB position 1-2\n"
    "            (--bus=usb:1-2); the adapter goes when it ends\n"
    "  --help    this text\n";

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// Runs `command` with the preload library that routes its device requests
// to the test bed; returns its exit status (128 + signal when killed).
int runCommand(const QStringList &command)
{
    QByteArray preload = UMOCKDEV_PRELOAD;
    const QByteArray inherited = qgetenv("LD_PRELOAD");
    if (!inherited.isEmpty())
        preload += ' ' + inherited;
    // Everything the child needs is made before the fork: the test bed's
    // worker thread may hold the allocator's lock at that moment.
    setenv("LD_PRELOAD", preload.constData(), 1);
    QVector<QByteArray> args;
    for (const QString &a : command)
        args << a.toLocal8Bit();
    QVector<char *> argv;
    for (QByteArray &a : args)
        argv << a.data();
    argv << nullptr;
    const QByteArray failed = "ds2490-emu: cannot run " + args.at(0) + "\n";
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv.at(0), argv.data());
        (void)!write(STDERR_FILENO, failed.constData(), size_t(failed.size()));
        _exit(127);
    }
    if (child < 0) {
        err() << "ds2490-emu: fork: " << strerror(errno) << "\n";
        return 1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const int dashes = args.indexOf(QStringLiteral("--"));
    if (args.contains(QStringLiteral("--help")) && (dashes < 0 || args.indexOf(QStringLiteral("--help")) < dashes)) {
        QTextStream(stdout) << kUsage;
        return 0;
    }
    if (dashes < 0 || dashes > 1 || dashes + 1 >= args.size()) {
        err() << kUsage;
        return 2;
    }
    QString error;
    std::unique_ptr<SimBackend> backend =
        dashes == 0 ? SimBusLoader::loadDemo(&error) : SimBusLoader::loadFile(args.at(0), &error);
    if (!backend) {
        err() << error << "\n";
        return 2;
    }
    SimDs2490 chip(&backend->bus());
    // Real time: the chip's USB frames are the host's own.
    chip.setFrameTime(false);
    UsbTestBed bed(&chip);
    return runCommand(args.mid(dashes + 1));
}
