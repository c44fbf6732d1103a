#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "port/linux_port_map.h"

// A temporary directory laid out like /sys, /dev and /proc of a machine with the serial
// devices a test adds, linked the way the kernel links them. Removed with the object.
class FakeSystemTree {
  public:
    FakeSystemTree();
    ~FakeSystemTree();
    FakeSystemTree(const FakeSystemTree&) = delete;
    FakeSystemTree& operator=(const FakeSystemTree&) = delete;

    const std::string& root() const { return root_; }
    SystemRoots roots() const;

    // An onboard UART line ttyS<line>; type 0 is a line with no hardware behind it.
    void add_uart(int line, int type);
    // A USB serial adapter on USB port <usb_port> of the first root hub.
    void add_usb_serial(const std::string& name, int usb_port, const std::string& driver,
                        const std::string& vendor, const std::string& product_id,
                        const std::string& manufacturer, const std::string& product,
                        const std::string& serial);
    void add_acm(const std::string& name, int usb_port);
    // A tty with no hardware behind it (a virtual terminal).
    void add_virtual_tty(const std::string& name);
    // The kernel's active consoles, as /sys/class/tty/console/active lists them.
    void set_consoles(const std::string& names);
    // A /dev/serial/<kind> link (kind "by-path" or "by-id") to device name.
    void add_serial_link(const std::string& kind, const std::string& link, const std::string& name);
    // Makes the character device number of the node at path lead to tty name, as
    // /sys/dev/char does.
    void register_device_number(const std::string& path, const std::string& name);
    // A node for name under the dev root: a link to target (a pseudo-terminal, say).
    void add_dev_link(const std::string& name, const std::string& target);

  private:
    void write(const std::string& relative, const std::string& text);
    void link(const std::string& target, const std::string& relative);
    void add_tty(const std::string& device_dir, const std::string& name);

    std::string root_;
};
