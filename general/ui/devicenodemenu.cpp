#include "general/ui/devicenodemenu.h"

#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/ui/addparameterdialog.h"

namespace halvorn::general {

DeviceNodeMenu::DeviceNodeMenu(Device* device, QWidget* parent)
    : TreeNodeMenu(device, parent)
    , m_device(device)
{
    setTitle(tr("Device"));
    addSeparator();
    if (!device)
        return;
    connect(addAction(tr("Search parameters")), &QAction::triggered, device,
            &ParameterDevice::triggerSearchParameters);
    connect(addAction(tr("Add parameter(s)")), &QAction::triggered, this, &DeviceNodeMenu::addParameters);
    connect(addAction(tr("Remove device")), &QAction::triggered, device, &Device::removeFromParent);
    if (device->isDaisyChained()) {
        addSeparator();
        connect(addAction(tr("Search daisy-chain children")), &QAction::triggered, device,
                &Device::searchDaisyChildren);
    }
}

void DeviceNodeMenu::addParameters()
{
    AddParameterDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    addCustomParameters(m_device, dialog.startParameter(), dialog.interspacing(), dialog.count());
}

void DeviceNodeMenu::addCustomParameters(Device* device, int start, int interspacing, int count)
{
    if (!device)
        return;
    ParameterGroup* custom = device->group(QStringLiteral("Custom"));
    for (int i = 0; i < count; ++i) {
        const uint number = uint(start + interspacing * i);
        const QString name =
            QStringLiteral("Custom param ") + QString::number(number, 16).toUpper() + QLatin1Char('h');
        auto* parameter = new Parameter(device, number, name, QString(), -1, -1, -1, false, false,
                                        Parameter::Decimal);
        if (device->addParameter(custom, parameter) == parameter)
            parameter->setAutoRange(true);
        else
            delete parameter; // that number is there already
    }
}

} // namespace halvorn::general
