#pragma once

#include <string>
#include <vector>

namespace qrtsim {

// A driver's attribute directory as sysfs shows it, seen from the driver: a flat set of named
// attributes with fixed modes, each read through the driver's show and written through its
// store. The rig serves one of these at a system directory (HostSystem::serveAttributes) with
// the kernel's rules: every write() reaches store on its own, a refused store fails that write
// with the store's error, reading an attribute opens it only where its mode has a read bit and
// writing only where it has a write bit (root included), and nothing can be created.
// Results are 0 or a negative errno.
class SysfsDirectory {
  public:
    virtual ~SysfsDirectory() = default;

    // Every attribute's name, in a fixed order.
    virtual std::vector<std::string> names() const = 0;
    // The permission bits of `name` (0444, 0644, 0200, ...); false for no such attribute.
    virtual bool mode(const std::string& name, unsigned& mode) const = 0;
    // An open that the attribute's mode refuses (the directory answers EACCES itself): the
    // driver counts what a correct program never does.
    virtual void refusedOpen(const std::string& name, bool read, bool write) = 0;
    // A file created in the directory (refused with EACCES).
    virtual void refusedCreate(const std::string& name) = 0;
    virtual int show(const std::string& name, std::string& text) = 0;
    virtual int store(const std::string& name, const std::string& text) = 0;
};

}  // namespace qrtsim
