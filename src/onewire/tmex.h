#pragma once

#include <QByteArray>

#include <cstdint>

class BusBackend;

// The TMEX 1-Wire driver calls the program uses, with the driver's names and
// argument shapes, on one bus: each forwards to that bus's BusBackend. The
// measurement session owns one per bus and hands it to the adapter session
// and the drivers, so several buses can be measured in one process. Without
// a backend every call fails with -1 (0 for TMValidSession).
class Tmex
{
public:
    // `backend` (not owned, may be null) must outlive this object.
    explicit Tmex(BusBackend *backend = nullptr) : m_backend(backend) {}
    Tmex(const Tmex &) = delete;
    Tmex &operator=(const Tmex &) = delete;

    BusBackend *backend() const { return m_backend; }
    // Puts the calls onto another bus (a test fixture's adapter in front of
    // its simulated bus).
    void setBackend(BusBackend *backend) { m_backend = backend; }

    short TMReadDefaultPort(short *portNum, short *portType);
    int32_t TMExtendedStartSession(short portNum, short portType, void *sessionOptions);
    short TMValidSession(int32_t session);
    short TMSetup(int32_t session);
    short TMAutoOverDrive(int32_t session, void *stateBuffer, short mode);
    short TMEndSession(int32_t session);
    short TMTouchReset(int32_t session);
    short TMTouchByte(int32_t session, short outByte);
    short TMTouchBit(int32_t session, short outBit);
    // A run of bytes in one call: each byte of `buffer` goes out and is replaced
    // by the byte read back. Returns `length`, negative on error.
    short TMBlockIO(int32_t session, unsigned char *buffer, short length);
    short TMFirst(int32_t session, void *stateBuffer);
    short TMNext(int32_t session, void *stateBuffer);
    // The search among the devices whose alarm flag is set (Alarm Search);
    // BusBackend::kNoAlarmSearch when the bus cannot run one.
    short TMFirstAlarm(int32_t session, void *stateBuffer);
    short TMNextAlarm(int32_t session, void *stateBuffer);
    short TMRom(int32_t session, void *stateBuffer, short *rom);
    short TMStrongAccess(int32_t session, void *stateBuffer);
    short TMAccess(int32_t session, void *stateBuffer);
    short TMOneWireLevel(int32_t session, short operation, short levelType, short primed);
    short TMCRC(short length, unsigned char *buffer, unsigned short seed, short crcType);

    // Selects the device with ROM `rom` for the transaction that follows:
    // TMRom, then TMStrongAccess; true when both succeed.
    bool selectDevice(int32_t session, void *stateBuffer, short *rom);

    // Waits `ms` milliseconds on the tick counter while letting the GUI run
    // and calling TMValidSession, which keeps the session alive during a
    // conversion.
    void waitKeepingSession(int32_t session, int ms);
    // Whether the Convert T to every device just sent is already done
    // (BusBackend::conversionFinished); no bus traffic.
    bool conversionFinished() const;

    // TMBlockIO over the bytes of `run`, each replaced by the byte read back:
    // its length, negative on error.
    short blockIO(int32_t session, QByteArray &run);
    // blockIO, then TMTouchBit(1): a command whose first busy poll always
    // follows it, in one call, so an adapter that can carry both in one
    // exchange with it does. The bit read, negative on error.
    short blockThenReadBit(int32_t session, QByteArray &run);
    // TMStrongAccess, then blockIO over `run` once the device answered, in
    // one call (BusBackend::strongAccessThenBlock): TMStrongAccess's result,
    // negative when the run failed.
    short strongAccessThenBlock(int32_t session, void *stateBuffer, QByteArray &run);
    // TMRom with `rom`, then strongAccessThenBlock: the device's selection
    // and `run` in one exchange where the adapter can. Only for a command
    // that changes nothing another device could mind (a read, a
    // conversion, a recall): where the selection's pass ends at another
    // device (this one has left the bus) the run reaches that one, and this
    // returns false, its answers to be dropped. True when selected and run.
    bool selectThenRun(int32_t session, void *stateBuffer, short *rom, QByteArray &run);

private:
    BusBackend *m_backend;
};
