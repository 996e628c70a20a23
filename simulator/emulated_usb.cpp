#include "emulated_usb.h"

#include <umockdev.h>

#include <stdexcept>

#include "ftdi_chip.h"
#include "usbfs_port.h"

namespace zarv::sim {

struct EmulatedUsb::Port {
    std::unique_ptr<UsbfsPort> usbfs;
    std::string syspath;
};

namespace {
QString hex(const std::vector<std::uint8_t>& bytes) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()))
            .toHex());
}

// The udev record of a bridge on a bus of its own.
QString deviceRecord(const FtdiChip& chip, int bus, const QString& devnode) {
    const QString number = QStringLiteral("%1").arg(bus, 3, 10, QLatin1Char('0'));
    QString r;
    r += QStringLiteral("P: /devices/usb%1\n").arg(bus);
    r += QStringLiteral("N: %1\n").arg(devnode.mid(5));
    r += QStringLiteral("E: SUBSYSTEM=usb\nE: DRIVER=usb\nE: DEVTYPE=usb_device\n");
    r += QStringLiteral("E: BUSNUM=%1\nE: DEVNUM=001\nE: DEVNAME=%2\n").arg(number, devnode);
    r += QStringLiteral("A: bConfigurationValue=1\\n\nA: speed=480\\n\n");
    r += QStringLiteral("A: busnum=%1\\n\nA: devnum=1\\n\n").arg(bus);
    r += QStringLiteral("A: idVendor=0403\\n\nA: idProduct=6014\\n\n");
    r += QStringLiteral("A: manufacturer=FTDI\\n\nA: product=%1\\n\nA: serial=%2\\n\n")
             .arg(chip.description(), chip.serial());
    r += QStringLiteral("H: descriptors=%1\n").arg(hex(chip.descriptors()));
    return r;
}
}  // namespace

EmulatedUsb::EmulatedUsb() {
    testbed_ = umockdev_testbed_new();
    if (!testbed_) throw std::runtime_error("cannot make a umockdev testbed");
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_dir_ = QString::fromUtf8(root);
    g_free(root);
}

EmulatedUsb::~EmulatedUsb() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [id, port] : ports_) port->usbfs->disconnect();
    }
    ports_.clear();
    g_object_unref(testbed_);
}

QString EmulatedUsb::rootDir() const {
    return root_dir_;
}

int EmulatedUsb::plug(FtdiChip& chip, bool busy) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int bus = next_bus_++;
    const QString devnode = QStringLiteral("/dev/bus/usb/%1/001").arg(bus, 3, 10, QLatin1Char('0'));
    auto port = std::make_shared<Port>();
    port->usbfs = std::make_unique<UsbfsPort>(chip, devnode.toStdString(),
                                              (root_dir_ + devnode).toStdString(), busy);
    port->syspath = QStringLiteral("/sys/devices/usb%1").arg(bus).toStdString();
    const QByteArray node = devnode.toUtf8();
    if (!umockdev_testbed_attach_ioctl(testbed_, node.constData(), port->usbfs->handler(), nullptr))
        throw std::runtime_error("cannot attach the usbfs handler");
    const QByteArray record = deviceRecord(chip, bus, devnode).toUtf8();
    if (!umockdev_testbed_add_from_string(testbed_, record.constData(), nullptr))
        throw std::runtime_error("cannot add the emulated bridge");
    if (!port->usbfs->makeNodePollable())
        throw std::runtime_error("cannot make the device node pollable");
    ports_[bus] = port;
    return bus;
}

std::shared_ptr<EmulatedUsb::Port> EmulatedUsb::port(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = ports_.find(id);
    if (it == ports_.end()) throw std::out_of_range("no such emulated USB port");
    return it->second;
}

void EmulatedUsb::unplug(int id) {
    const auto p = port(id);
    p->usbfs->disconnect();
    umockdev_testbed_remove_device(testbed_, p->syspath.c_str());
    // The handler stays: handles opened before keep getting ENODEV from it, as
    // from a real node whose device is gone.
}

int EmulatedUsb::replug(int id) {
    FtdiChip& chip = port(id)->usbfs->chip();
    unplug(id);
    return plug(chip);
}

std::vector<EmulatedUsb::UrbRecord> EmulatedUsb::submittedUrbs(int id) const {
    return port(id)->usbfs->submitted();
}

int EmulatedUsb::inTransfersPending(int id) const {
    return port(id)->usbfs->inPending();
}

QString EmulatedUsb::devnode(int id) const {
    return QString::fromStdString(port(id)->usbfs->devnode());
}

}  // namespace zarv::sim
