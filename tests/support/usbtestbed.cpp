#include "support/usbtestbed.h"

#include "sim/simds2490.h"

#include <QList>
#include <QMutexLocker>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kNode[] = "/dev/bus/usb/001/002";

// Device descriptor and one configuration: interface 0 in four alternate
// settings, each with EP1 interrupt IN (32-byte packets: 16 state bytes and
// up to 16 result bytes), EP2 bulk OUT and EP3 bulk IN (the
// last one with 64-byte bulk packets and a 1 ms interrupt interval).
QByteArray descriptors()
{
    QByteArray d = QByteArray::fromHex("12011001ff000008fa049024000100000001");
    const int total = 9 + 4 * (9 + 3 * 7);
    d += QByteArray::fromHex("0902") + char(total & 0xFF) + char(total >> 8) + QByteArray::fromHex("0101008032");
    for (int alt = 0; alt < 4; ++alt) {
        const char packet = alt == 3 ? 0x40 : 0x10;
        d += QByteArray::fromHex("090400") + char(alt) + QByteArray::fromHex("03ff000000");
        d += QByteArray::fromHex("0705810320") + QByteArray(1, 0) + char(alt == 3 ? 1 : 10);
        d += QByteArray::fromHex("07050202") + packet + QByteArray(2, 0);
        d += QByteArray::fromHex("07058302") + packet + QByteArray(2, 0);
    }
    return d;
}

} // namespace

// URBs submitted and not yet reaped: done ones in order, and those that
// never complete until libusb discards them.
struct UsbTestBed::Urbs
{
    QList<UMockdevIoctlData *> done;
    QList<UMockdevIoctlData *> pending;
    ~Urbs()
    {
        for (UMockdevIoctlData *d : done + pending)
            g_object_unref(d);
    }
};

void UsbTestBed::ensurePreload(char *argv[])
{
    const QByteArray preload = qgetenv("LD_PRELOAD");
    if (preload.contains("libumockdev-preload"))
        return;
    QByteArray value = UMOCKDEV_PRELOAD;
    if (!preload.isEmpty())
        value += ' ' + preload;
    qputenv("LD_PRELOAD", value);
    // A sanitized build then has its runtime behind the preload library.
    // Its report file must go: the sanitizer opens it through the preload
    // library's open() before that is ready, and the process dies at start.
    // Reports then reach standard error, and any report still fails the
    // test, since the sanitizer ends the process with an error.
    QList<QByteArray> options = qgetenv("ASAN_OPTIONS").split(':');
    for (int i = options.size() - 1; i >= 0; --i) {
        if (options.at(i).isEmpty() || options.at(i).startsWith("log_path=")
            || options.at(i).startsWith("verify_asan_link_order="))
            options.removeAt(i);
    }
    options << "verify_asan_link_order=0";
    qputenv("ASAN_OPTIONS", options.join(':'));
    execv("/proc/self/exe", argv);
    qFatal("cannot run under the umockdev preload library: %s", strerror(errno));
}

UsbTestBed::UsbTestBed(SimDs2490 *chip)
    : m_chip(chip)
    , m_urbs(std::make_unique<Urbs>())
{
    m_testbed = umockdev_testbed_new();
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&UsbTestBed::handleIoctl), this);
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, kNode, m_handler, &error))
        qFatal("umockdev: %s", error ? error->message : "cannot attach the ioctl handler");
    addDevice();
}

UsbTestBed::~UsbTestBed()
{
    umockdev_testbed_detach_ioctl(m_testbed, kNode, nullptr);
    m_urbs.reset();
    g_object_unref(m_handler);
    g_object_unref(m_testbed);
}

void UsbTestBed::addDevice()
{
    QByteArray text = "P: /devices/usb1/1-2\n"
                      "N: bus/usb/001/002\n"
                      "E: SUBSYSTEM=usb\n"
                      "E: DEVTYPE=usb_device\n"
                      "E: DRIVER=usb\n"
                      "E: BUSNUM=001\n"
                      "E: DEVNUM=002\n"
                      "E: DEVNAME=/dev/bus/usb/001/002\n"
                      "E: PRODUCT=4fa/2490/100\n"
                      "A: busnum=1\\n\n"
                      "A: devnum=2\\n\n"
                      "A: devpath=2\\n\n"
                      "A: bConfigurationValue=1\\n\n"
                      "A: speed=12\\n\n"
                      "H: descriptors=";
    text += descriptors().toHex().toUpper() + "\n";
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, text.constData(), &error))
        qFatal("umockdev: %s", error ? error->message : "cannot add the device");
    m_sysPath = QStringLiteral("/sys/devices/usb1/1-2");
}

void UsbTestBed::plug()
{
    QMutexLocker lock(&m_mutex);
    if (m_plugged)
        return;
    m_chip->powerOn();
    m_plugged = true;
    addDevice();
}

void UsbTestBed::unplugAfter(int requests)
{
    QMutexLocker lock(&m_mutex);
    m_unplugAfter = requests;
}

void UsbTestBed::setKernelDriverBound(bool bound)
{
    QMutexLocker lock(&m_mutex);
    m_driverBound = bound;
}

bool UsbTestBed::kernelDriverBound() const
{
    QMutexLocker lock(&m_mutex);
    return m_driverBound;
}

void UsbTestBed::setHeldByOther(bool held)
{
    QMutexLocker lock(&m_mutex);
    m_held = held;
}

void UsbTestBed::restrictNode()
{
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    const QByteArray dir(root);
    g_free(root);
    // libudev's monitor (which libusb starts) binds its socket in the root.
    // The preload library connects to the node's ioctl socket even when the
    // kernel refused to open the node, and ends the process if it cannot,
    // so that socket is open to all; the node itself is what refuses.
    const QByteArray node = dir + kNode;
    const QByteArray socket = dir + "/ioctl" + kNode;
    if (chmod(dir.constData(), 01777) != 0 || chmod(socket.constData(), 0777) != 0
        || chown(node.constData(), 0, 0) != 0 || chmod(node.constData(), 0600) != 0)
        qFatal("cannot restrict the USB device node: %s", strerror(errno));
}

void UsbTestBed::stallNext(int endpoint)
{
    QMutexLocker lock(&m_mutex);
    m_stallEndpoint = endpoint;
}

void UsbTestBed::swallowNext()
{
    QMutexLocker lock(&m_mutex);
    m_swallow = true;
}

QStringList UsbTestBed::ioctls() const
{
    QMutexLocker lock(&m_mutex);
    return m_ioctls;
}

int UsbTestBed::handleIoctl(_UMockdevIoctlBase *, _UMockdevIoctlClient *client, void *self)
{
    return static_cast<UsbTestBed *>(self)->handle(client) ? TRUE : FALSE;
}

bool UsbTestBed::handle(UMockdevIoctlClient *client)
{
    QMutexLocker lock(&m_mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    if (m_unplugAfter == 0 && m_plugged) {
        // The node goes once this request is answered (removing it while
        // the request is open would lose the answer).
        m_plugged = false;
        m_unplugAfter = -1;
        GSource *later = g_idle_source_new();
        g_source_set_callback(
            later,
            [](gpointer self) -> gboolean {
                auto *bed = static_cast<UsbTestBed *>(self);
                QMutexLocker lock(&bed->m_mutex);
                if (!bed->m_plugged)
                    umockdev_testbed_remove_device(bed->m_testbed, bed->m_sysPath.toUtf8().constData());
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(later, g_main_context_get_thread_default());
        g_source_unref(later);
    }
    if (m_unplugAfter > 0)
        --m_unplugAfter;
    // A vanished device answers every request so, except that the URBs
    // that completed before can still be reaped (as the kernel lets them).
    const bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    if (!m_plugged && !(reap && !m_urbs->done.isEmpty())) {
        m_ioctls << QStringLiteral("ENODEV");
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32 *>(d->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM
                                           | USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        g_object_unref(d);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        m_ioctls << QStringLiteral("GETDRIVER");
        if (!m_driverBound) {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return true;
        }
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        std::strcpy(reinterpret_cast<usbdevfs_getdriver *>(d->data)->driver, "DS9490R");
        g_object_unref(d);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
        const int code = reinterpret_cast<usbdevfs_ioctl *>(d->data)->ioctl_code;
        g_object_unref(d);
        if (code == int(USBDEVFS_DISCONNECT)) {
            m_ioctls << QStringLiteral("DISCONNECT");
            m_driverBound = false;
        } else if (code == int(USBDEVFS_CONNECT)) {
            m_ioctls << QStringLiteral("CONNECT");
            m_driverBound = true;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
        m_ioctls << QStringLiteral("CLAIM");
        if (m_driverBound || m_held)
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        else
            umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETINTERFACE:
        m_ioctls << QLatin1String(request == USBDEVFS_SETINTERFACE ? "SETINTERFACE" : "RELEASE");
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
    case USBDEVFS_SETCONFIGURATION: // the one configuration (owserver sets it)
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
        UMockdevIoctlData *buffer = umockdev_ioctl_data_resolve(urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                                                gsize(urb->buffer_length), nullptr);
        auto *bytes = reinterpret_cast<char *>(buffer->data);
        urb->status = 0;
        urb->actual_length = 0;
        const int endpoint = urb->endpoint;
        if (m_swallow) {
            m_swallow = false;
            m_ioctls << QStringLiteral("SUBMIT (never completes)");
            m_urbs->pending.append(urbData);
            g_object_unref(buffer);
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        if (m_stallEndpoint >= 0 && (urb->type == USBDEVFS_URB_TYPE_CONTROL ? 0 : endpoint) == m_stallEndpoint) {
            m_stallEndpoint = -1;
            m_ioctls << QStringLiteral("SUBMIT (stalled)");
            urb->status = -EPIPE;
        } else if (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->buffer_length >= 8) {
            const auto *setup = reinterpret_cast<const uint8_t *>(bytes);
            const uint16_t value = uint16_t(setup[2] | (setup[3] << 8));
            const uint16_t index = uint16_t(setup[4] | (setup[5] << 8));
            if (!m_chip->control(setup[0], setup[1], value, index))
                urb->status = -EPIPE;
        } else if (urb->type == USBDEVFS_URB_TYPE_BULK && !(endpoint & 0x80)) {
            m_chip->bulkOut(QByteArray(bytes, urb->buffer_length));
            urb->actual_length = urb->buffer_length;
        } else if (urb->type == USBDEVFS_URB_TYPE_BULK || urb->type == USBDEVFS_URB_TYPE_INTERRUPT) {
            const QByteArray data = urb->type == USBDEVFS_URB_TYPE_BULK ? m_chip->bulkIn(urb->buffer_length)
                                                                        : m_chip->statusPacket().left(urb->buffer_length);
            std::memcpy(bytes, data.constData(), size_t(data.size()));
            urb->actual_length = data.size();
        } else {
            urb->status = -EINVAL;
        }
        g_object_unref(buffer);
        m_urbs->done.append(urbData);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        if (m_urbs->done.isEmpty()) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return true;
        }
        UMockdevIoctlData *urbData = m_urbs->done.takeFirst();
        UMockdevIoctlData *pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, urbData);
        g_object_unref(pointer);
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_DISCARDURB: {
        for (int i = 0; i < m_urbs->pending.size(); ++i) {
            UMockdevIoctlData *urbData = m_urbs->pending.at(i);
            if (urbData->client_addr == *reinterpret_cast<gulong *>(arg->data)) {
                m_urbs->pending.removeAt(i);
                reinterpret_cast<usbdevfs_urb *>(urbData->data)->status = -ENOENT;
                m_urbs->done.append(urbData);
                m_ioctls << QStringLiteral("DISCARD");
                umockdev_ioctl_client_complete(client, 0, 0);
                return true;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
    }
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return true;
    }
}
