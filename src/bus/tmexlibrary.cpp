#include "bus/tmexlibrary.h"

#include <QFileInfo>

#if defined(_WIN32) && !defined(_WIN64)
#define TMEX_CALL __stdcall
#else
#define TMEX_CALL
#endif

struct TmexLibrary::Calls
{
    short(TMEX_CALL *readDefaultPort)(short *, short *);
    int32_t(TMEX_CALL *extendedStartSession)(short, short, void *);
    short(TMEX_CALL *validSession)(int32_t);
    short(TMEX_CALL *setup)(int32_t);
    short(TMEX_CALL *autoOverDrive)(int32_t, void *, short);
    short(TMEX_CALL *endSession)(int32_t);
    short(TMEX_CALL *touchReset)(int32_t);
    short(TMEX_CALL *touchByte)(int32_t, short);
    short(TMEX_CALL *touchBit)(int32_t, short);
    short(TMEX_CALL *first)(int32_t, void *);
    short(TMEX_CALL *next)(int32_t, void *);
    short(TMEX_CALL *rom)(int32_t, void *, short *);
    short(TMEX_CALL *strongAccess)(int32_t, void *);
    short(TMEX_CALL *access)(int32_t, void *);
    short(TMEX_CALL *oneWireLevel)(int32_t, short, short, short);
    short(TMEX_CALL *crc)(short, unsigned char *, unsigned short, short);
};

namespace {

QString installedDriverName()
{
#ifdef _WIN32
    return QStringLiteral("IBFS64.dll");
#else
    return QStringLiteral("IBFS64");
#endif
}

template <typename F>
bool resolve(QLibrary &library, const char *name, F *target, QString *missing)
{
    *target = reinterpret_cast<F>(library.resolve(name));
    if (!*target && missing->isEmpty())
        *missing = QLatin1String(name);
    return *target != nullptr;
}

} // namespace

std::unique_ptr<TmexLibrary> TmexLibrary::load(const QString &path, QString *error)
{
    std::unique_ptr<TmexLibrary> lib(new TmexLibrary);
    lib->m_library.setFileName(path);
    if (!lib->m_library.load()) {
        if (error)
            *error = QStringLiteral("%1: cannot load the TMEX driver: %2").arg(path, lib->m_library.errorString());
        return nullptr;
    }
    lib->m_calls = std::make_unique<Calls>();
    Calls &c = *lib->m_calls;
    QString missing;
    resolve(lib->m_library, "TMReadDefaultPort", &c.readDefaultPort, &missing);
    resolve(lib->m_library, "TMExtendedStartSession", &c.extendedStartSession, &missing);
    resolve(lib->m_library, "TMValidSession", &c.validSession, &missing);
    resolve(lib->m_library, "TMSetup", &c.setup, &missing);
    resolve(lib->m_library, "TMAutoOverDrive", &c.autoOverDrive, &missing);
    resolve(lib->m_library, "TMEndSession", &c.endSession, &missing);
    resolve(lib->m_library, "TMTouchReset", &c.touchReset, &missing);
    resolve(lib->m_library, "TMTouchByte", &c.touchByte, &missing);
    resolve(lib->m_library, "TMTouchBit", &c.touchBit, &missing);
    resolve(lib->m_library, "TMFirst", &c.first, &missing);
    resolve(lib->m_library, "TMNext", &c.next, &missing);
    resolve(lib->m_library, "TMRom", &c.rom, &missing);
    resolve(lib->m_library, "TMStrongAccess", &c.strongAccess, &missing);
    resolve(lib->m_library, "TMAccess", &c.access, &missing);
    resolve(lib->m_library, "TMOneWireLevel", &c.oneWireLevel, &missing);
    resolve(lib->m_library, "TMCRC", &c.crc, &missing);
    if (!missing.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1: the TMEX driver lacks the symbol %2").arg(path, missing);
        return nullptr;
    }
    return lib;
}

TmexLibrary::~TmexLibrary() = default;

short TmexLibrary::readDefaultPort(short *portNum, short *portType) { return m_calls->readDefaultPort(portNum, portType); }
int32_t TmexLibrary::extendedStartSession(short portNum, short portType, void *options) { return m_calls->extendedStartSession(portNum, portType, options); }
short TmexLibrary::validSession(int32_t session) { return m_calls->validSession(session); }
short TmexLibrary::setup(int32_t session) { return m_calls->setup(session); }
short TmexLibrary::autoOverDrive(int32_t session, void *state, short mode) { return m_calls->autoOverDrive(session, state, mode); }
short TmexLibrary::endSession(int32_t session) { return m_calls->endSession(session); }
short TmexLibrary::touchReset(int32_t session) { return m_calls->touchReset(session); }
short TmexLibrary::touchByte(int32_t session, short outByte) { return m_calls->touchByte(session, outByte); }
short TmexLibrary::touchBit(int32_t session, short outBit) { return m_calls->touchBit(session, outBit); }
short TmexLibrary::first(int32_t session, void *state) { return m_calls->first(session, state); }
short TmexLibrary::next(int32_t session, void *state) { return m_calls->next(session, state); }
short TmexLibrary::rom(int32_t session, void *state, short *romBuffer) { return m_calls->rom(session, state, romBuffer); }
short TmexLibrary::strongAccess(int32_t session, void *state) { return m_calls->strongAccess(session, state); }
short TmexLibrary::access(int32_t session, void *state) { return m_calls->access(session, state); }
short TmexLibrary::oneWireLevel(int32_t session, short operation, short levelType, short primed) { return m_calls->oneWireLevel(session, operation, levelType, primed); }
short TmexLibrary::crc(short length, unsigned char *buffer, unsigned short seed, short crcType) { return m_calls->crc(length, buffer, seed, crcType); }

QString TmexLibrary::description() const
{
    return QStringLiteral("TMEX driver %1").arg(QFileInfo(m_library.fileName()).fileName());
}

MasterEntry TmexLibrary::masterEntry()
{
    MasterEntry entry;
    entry.prefix = QStringLiteral("tmex");
    entry.forms = {{QStringLiteral("tmex"), QStringLiteral("the TMEX driver (IBFS64.dll on Windows)")},
                   {QStringLiteral("tmex:PATH"), QStringLiteral("a TMEX-compatible driver library at PATH")}};
    entry.open = [](const QString &path, QString *error) -> std::unique_ptr<BusBackend> {
        return load(path.isEmpty() ? installedDriverName() : path, error);
    };
    entry.defaultPlace = 1;
    entry.defaultUsage = QString::fromLatin1(QT_TRANSLATE_NOOP("Orvexctl", "the driver"));
    entry.choose = [](QString *) -> std::unique_ptr<BusBackend> {
#ifdef _WIN32
        // Installed, the driver is what the machine was set up for; a
        // driver that does not load leaves the choice to the others.
        QString ignored;
        return load(installedDriverName(), &ignored);
#else
        return nullptr;
#endif
    };
    return entry;
}
