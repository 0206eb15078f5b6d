// Preloaded into a third-party serial program that talks to ds2480-emu on a
// pseudo-terminal, where two things differ from a UART. tcflush(TCIOFLUSH)
// throws away the bytes the program has written and the emulator has not
// read yet, where a UART would already have sent them: here only the input
// is flushed. A break does not pass: with ORVEX_BREAK_PID set, the break is
// sent to that emulator as SIGUSR1, once the bytes before it are taken.
#include <cstdlib>
#include <dlfcn.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

extern "C" int tcflush(int fd, int queue)
{
    using Flush = int (*)(int, int);
    static Flush real = reinterpret_cast<Flush>(dlsym(RTLD_NEXT, "tcflush"));
    if (queue == TCOFLUSH)
        return 0;
    return real(fd, queue == TCIOFLUSH ? TCIFLUSH : queue);
}

extern "C" int tcsendbreak(int, int)
{
    const char *pid = getenv("ORVEX_BREAK_PID");
    if (!pid)
        return 0;
    // The emulator reads what came before the break first, and is reset
    // before what comes after it.
    usleep(5000);
    kill(pid_t(atoi(pid)), SIGUSR1);
    usleep(5000);
    return 0;
}
