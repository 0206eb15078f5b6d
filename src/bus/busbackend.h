#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

// One implementation of the TMEX 1-Wire driver calls. The TMEX calls of a
// bus (onewire/tmex.h) forward every call to that bus's backend: the
// simulated bus, a TMEX-compatible driver library, or an adapter's master.
// Results follow the TMEX conventions: sessions are 32-bit handles (positive
// when valid), everything else is a 16-bit signed result, negative on error.
class BusBackend
{
public:
    virtual ~BusBackend() = default;

    virtual short readDefaultPort(short *portNum, short *portType) = 0;
    virtual int32_t extendedStartSession(short portNum, short portType, void *options) = 0;
    virtual short validSession(int32_t session) = 0;
    virtual short setup(int32_t session) = 0;
    virtual short autoOverDrive(int32_t session, void *state, short mode) = 0;
    virtual short endSession(int32_t session) = 0;
    virtual short touchReset(int32_t session) = 0;
    virtual short touchByte(int32_t session, short outByte) = 0;
    virtual short touchBit(int32_t session, short outBit) = 0;
    // TMBlockIO: `length` bytes out, each replaced by the byte read back; the
    // length, or negative on error. By default one touchByte per byte.
    virtual short blockIO(int32_t session, unsigned char *buffer, short length);
    // blockIO, then one read slot (touchBit(1)): a command and the first
    // poll of the busy bit that always follows it. The bit read, or negative
    // on error. By default the two calls.
    virtual short blockThenReadBit(int32_t session, unsigned char *buffer, short length);
    // strongAccess, then blockIO once the device answered: a selection and
    // the command that follows it (a scratchpad read). strongAccess's result,
    // or negative when the run failed. By default the two calls; a backend
    // that carries both in one exchange may send the run whatever the
    // selection finds, so the run must be one that no device is harmed by
    // (a read command and its read slots).
    virtual short strongAccessThenBlock(int32_t session, void *state, unsigned char *buffer, short length);
    virtual short first(int32_t session, void *state) = 0;
    virtual short next(int32_t session, void *state) = 0;
    // TMFirstAlarm and TMNextAlarm: the search as first() and next(), among
    // the devices whose alarm flag is set (Alarm Search). kNoAlarmSearch
    // from a bus that cannot run one; that is the default.
    static const short kNoAlarmSearch = -210;
    virtual short firstAlarm(int32_t session, void *state)
    {
        (void)session;
        (void)state;
        return kNoAlarmSearch;
    }
    virtual short nextAlarm(int32_t session, void *state)
    {
        (void)session;
        (void)state;
        return kNoAlarmSearch;
    }
    virtual short rom(int32_t session, void *state, short *romBuffer) = 0;
    virtual short strongAccess(int32_t session, void *state) = 0;
    virtual short access(int32_t session, void *state) = 0;
    virtual short oneWireLevel(int32_t session, short operation, short levelType, short primed) = 0;
    virtual short crc(short length, unsigned char *buffer, unsigned short seed, short crcType) = 0;

    // Shown by orvexctl and in the log: what the program is talking to.
    virtual QString description() const = 0;
    // What kind of master this is, for the window to name it in the
    // operator's language.
    enum class Kind { Driver, UsbAdapter, SerialAdapter, KernelMaster, Simulated };
    virtual Kind kind() const { return Kind::Driver; }
    // Why the adapter cannot be used, in words for the operator (a port that
    // may not be opened, an adapter that does not answer); empty when there
    // is nothing to add to the session's status.
    virtual QString problem() const { return QString(); }
    // Why the device with this ROM (bus order) cannot be read through this
    // bus although the search finds it, in words for the operator; empty
    // when nothing stands in its way.
    virtual QString deviceProblem(const uint8_t rom[8]) const
    {
        (void)rom;
        return QString();
    }
    // What the bus's own description says is wired to the device with this
    // ROM (bus order): a simulated bus's chip entry, e.g. "hih4000" for a
    // humidity sensor on a DS2438's VAD input; none on real hardware.
    virtual QStringList deviceOptions(const uint8_t rom[8]) const
    {
        (void)rom;
        return QStringList();
    }
    // Whether the bus may be driven from a thread other than the one that
    // opened it (several buses measured at once in threads of their own).
    // Masters built on Qt objects with thread affinity (a serial port) or on
    // a driver library of unknown threading say no, and are measured in turn.
    virtual bool runsInAnyThread() const { return false; }
    // True right after a Convert T to every device that the adapter carried
    // to its end before it returned (the Linux kernel's bulk conversion
    // returns when the devices are done): the caller need not wait again.
    virtual bool conversionFinished() const { return false; }
};

inline short BusBackend::blockIO(int32_t session, unsigned char *buffer, short length)
{
    if (length < 0 || (!buffer && length > 0))
        return -1;
    for (short i = 0; i < length; ++i) {
        const short read = touchByte(session, buffer[i]);
        if (read < 0)
            return read;
        buffer[i] = static_cast<unsigned char>(read);
    }
    return length;
}

inline short BusBackend::strongAccessThenBlock(int32_t session, void *state, unsigned char *buffer, short length)
{
    const short selected = strongAccess(session, state);
    if (selected < 1)
        return selected;
    const short written = blockIO(session, buffer, length);
    return written < 0 ? written : selected;
}

inline short BusBackend::blockThenReadBit(int32_t session, unsigned char *buffer, short length)
{
    const short written = blockIO(session, buffer, length);
    return written < 0 ? written : touchBit(session, 1);
}
