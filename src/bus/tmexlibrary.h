#pragma once

#include "bus/busbackend.h"
#include "bus/masterentry.h"

#include <QLibrary>
#include <memory>

// A TMEX-compatible driver library loaded at run time (IBFS64.dll on Windows,
// any shared library elsewhere), every call resolved by name.
class TmexLibrary : public BusBackend
{
public:
    // Loads `path` and resolves all the driver calls. On failure returns null
    // and sets *error to one line naming the file and, if it loaded, the
    // first symbol it lacks.
    static std::unique_ptr<TmexLibrary> load(const QString &path, QString *error);
    // tmex (the installed driver), tmex:PATH; by default the installed
    // driver where Windows has one.
    static MasterEntry masterEntry();
    ~TmexLibrary() override;

    short readDefaultPort(short *portNum, short *portType) override;
    int32_t extendedStartSession(short portNum, short portType, void *options) override;
    short validSession(int32_t session) override;
    short setup(int32_t session) override;
    short autoOverDrive(int32_t session, void *state, short mode) override;
    short endSession(int32_t session) override;
    short touchReset(int32_t session) override;
    short touchByte(int32_t session, short outByte) override;
    short touchBit(int32_t session, short outBit) override;
    short first(int32_t session, void *state) override;
    short next(int32_t session, void *state) override;
    short rom(int32_t session, void *state, short *romBuffer) override;
    short strongAccess(int32_t session, void *state) override;
    short access(int32_t session, void *state) override;
    short oneWireLevel(int32_t session, short operation, short levelType, short primed) override;
    short crc(short length, unsigned char *buffer, unsigned short seed, short crcType) override;
    QString description() const override;

private:
    TmexLibrary() = default;
    struct Calls;
    QLibrary m_library;
    std::unique_ptr<Calls> m_calls;
};
