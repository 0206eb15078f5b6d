#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <memory>

class SimDs2490;
struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

// A umockdev test bed with one USB device node, 04FA:2490 at 1-2
// (/dev/bus/usb/001/002), whose usbdevfs requests — the ones libusb itself
// makes: claiming, the kernel driver's state, control transfers and bulk
// and interrupt URBs submitted, reaped and discarded — the emulated DS2490
// answers. libusb in this process (or in a child that inherits the
// environment, such as orvexctl) then runs its real Linux code path.
//
// The handler runs in umockdev's worker thread while the libusb call that
// caused it waits, so the chip and its bus see one request at a time.
// Needs the umockdev preload library: call UsbTestBed::ensurePreload(argv)
// first thing in main().
class UsbTestBed
{
public:
    explicit UsbTestBed(SimDs2490 *chip);
    ~UsbTestBed();

    // Re-executes the program under libumockdev-preload unless it already is.
    static void ensurePreload(char *argv[]);

    // The adapter's USB position as usb:BUS-PORT takes it.
    static QString position() { return QStringLiteral("1-2"); }

    // Plugs the adapter back in (the chip powers up).
    void plug();
    // The adapter vanishes after `requests` more requests: every request
    // then fails as for a vanished device and the node is gone.
    void unplugAfter(int requests);
    // The kernel's own driver holds interface 0 (until libusb detaches it).
    void setKernelDriverBound(bool bound);
    bool kernelDriverBound() const;
    // Another program has claimed the interface.
    void setHeldByOther(bool held);
    // The device node is root's alone (mode 0600), as without the udev rule;
    // the test bed's tree stays readable for every user, so a process that
    // is not root finds the adapter and the kernel refuses to open it.
    void restrictNode();
    // The next URB for `endpoint` completes with a stall; the next one that
    // is submitted never completes (a transfer timeout).
    void stallNext(int endpoint);
    void swallowNext();
    // The usbdevfs requests seen (their names), for tests.
    QStringList ioctls() const;

private:
    static int handleIoctl(_UMockdevIoctlBase *handler, _UMockdevIoctlClient *client, void *self);
    bool handle(_UMockdevIoctlClient *client);
    void addDevice();

    struct Urbs;
    SimDs2490 *m_chip;
    _UMockdevTestbed *m_testbed = nullptr;
    _UMockdevIoctlBase *m_handler = nullptr;
    std::unique_ptr<Urbs> m_urbs;
    mutable QMutex m_mutex;
    QString m_sysPath;
    bool m_plugged = true;
    int m_unplugAfter = -1;
    bool m_driverBound = false;
    bool m_held = false;
    int m_stallEndpoint = -1;
    bool m_swallow = false;
    QStringList m_ioctls;
};
