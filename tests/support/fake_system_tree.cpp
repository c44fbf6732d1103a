#include "tests/support/fake_system_tree.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

const std::string usb_hub = "sys/devices/pci0000:00/0000:00:14.0/usb1";

}  // namespace

FakeSystemTree::FakeSystemTree() {
    std::string pattern = (fs::temp_directory_path() / "korvan-sys-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
    fs::create_directories(root_ + "/sys/class/tty");
    fs::create_directories(root_ + "/sys/dev/char");
    fs::create_directories(root_ + "/dev");
    fs::create_directories(root_ + "/proc");
}

FakeSystemTree::~FakeSystemTree() {
    std::error_code error;
    fs::remove_all(root_, error);
}

SystemRoots FakeSystemTree::roots() const {
    return SystemRoots{root_ + "/sys", root_ + "/dev", root_ + "/proc"};
}

void FakeSystemTree::write(const std::string& relative, const std::string& text) {
    const fs::path path = fs::path(root_) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << '\n';
}

void FakeSystemTree::link(const std::string& target, const std::string& relative) {
    const fs::path path = fs::path(root_) / relative;
    fs::create_directories(path.parent_path());
    fs::create_symlink(target, path);
}

void FakeSystemTree::add_tty(const std::string& device_dir, const std::string& name) {
    const std::string tty_dir = device_dir + "/tty/" + name;
    fs::create_directories(fs::path(root_) / tty_dir);
    link(root_ + "/" + device_dir, tty_dir + "/device");
    link(root_ + "/" + tty_dir, "sys/class/tty/" + name);
}

void FakeSystemTree::add_uart(int line, int type) {
    const std::string name = "ttyS" + std::to_string(line);
    const std::string device_dir =
        "sys/devices/platform/serial8250/serial8250:0." + std::to_string(line);
    add_tty(device_dir, name);
    link("../../../../bus/serial-base/drivers/port", device_dir + "/driver");
    write(device_dir + "/tty/" + name + "/type", std::to_string(type));
}

void FakeSystemTree::add_usb_serial(const std::string& name, int usb_port,
                                    const std::string& driver, const std::string& vendor,
                                    const std::string& product_id, const std::string& manufacturer,
                                    const std::string& product, const std::string& serial) {
    const std::string usb_device = usb_hub + "/1-" + std::to_string(usb_port);
    write(usb_device + "/idVendor", vendor);
    write(usb_device + "/idProduct", product_id);
    write(usb_device + "/manufacturer", manufacturer);
    write(usb_device + "/product", product);
    write(usb_device + "/serial", serial);
    const std::string serial_port = usb_device + "/1-" + std::to_string(usb_port) + ":1.0/" + name;
    add_tty(serial_port, name);
    link("../../../../../../bus/usb-serial/drivers/" + driver, serial_port + "/driver");
}

void FakeSystemTree::add_acm(const std::string& name, int usb_port) {
    const std::string usb_device = usb_hub + "/1-" + std::to_string(usb_port);
    write(usb_device + "/idVendor", "2341");
    write(usb_device + "/idProduct", "0043");
    const std::string interface = usb_device + "/1-" + std::to_string(usb_port) + ":1.0";
    add_tty(interface, name);
    link("../../../../../bus/usb/drivers/cdc_acm", interface + "/driver");
}

void FakeSystemTree::add_virtual_tty(const std::string& name) {
    const std::string tty_dir = "sys/devices/virtual/tty/" + name;
    fs::create_directories(fs::path(root_) / tty_dir);
    link(root_ + "/" + tty_dir, "sys/class/tty/" + name);
}

void FakeSystemTree::set_consoles(const std::string& names) {
    write("sys/devices/virtual/tty/console/active", names);
    std::error_code error;
    if (!fs::exists(fs::path(root_) / "sys/class/tty/console", error)) {
        link(root_ + "/sys/devices/virtual/tty/console", "sys/class/tty/console");
    }
}

void FakeSystemTree::add_serial_link(const std::string& kind, const std::string& link_name,
                                     const std::string& name) {
    link("../../" + name, "dev/serial/" + kind + "/" + link_name);
}

void FakeSystemTree::register_device_number(const std::string& path, const std::string& name) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) {
        throw std::runtime_error("no node at " + path);
    }
    link(root_ + "/sys/class/tty/" + name, "sys/dev/char/" + std::to_string(major(node.st_rdev)) +
                                               ":" + std::to_string(minor(node.st_rdev)));
}

void FakeSystemTree::add_dev_link(const std::string& name, const std::string& target) {
    link(target, "dev/" + name);
}
