#pragma once

#include "general/device.h"
#include "general/ui/treenodemenu.h"

namespace halvorn::general {

// The context menu of a device on a network: "Search parameters",
// "Add parameter(s)" (custom parameters by number, see addParameters()),
// "Remove device" and, for devices that can have daisy-chained children,
// "Search daisy-chain children".
class DeviceNodeMenu : public TreeNodeMenu
{
    Q_OBJECT

public:
    explicit DeviceNodeMenu(halvorn::general::Device* device, QWidget* parent = nullptr);

    Device* device() const { return m_device; }

    // Adds custom parameters to the device's "Custom" group (created when
    // missing): `count` parameters from `start`, `interspacing` apart, named
    // "Custom param <number in hex>h", with a range that grows with the
    // values seen. What addParameters() does once the dialog is accepted.
    static void addCustomParameters(halvorn::general::Device* device, int start, int interspacing, int count);

public Q_SLOTS:
    // Asks for the numbers with an AddParameterDialog.
    void addParameters();

private:
    QPointer<Device> m_device;
};

} // namespace halvorn::general
