#include "vx/chdaisysearch.h"

#include "vx/vxdevice.h"
#include "vx/vxnetwork.h"


namespace halvorn::vx {

CHDaisySearch::CHDaisySearch(const QString& name, VxDevice* device, bool deleteWhenDone)
    : general::Search(name, deleteWhenDone)
    , m_device(device)
{
    setTarget(device);
}

void CHDaisySearch::removeEarlierCells(VxDevice* device)
{
    VxNetwork* net = device->vxNetwork();
    for (general::TreeNode* child : device->childNodes()) {
        auto* cell = qobject_cast<VxDevice*>(child);
        if (cell && cell->skipCount() > 0)
            net->removeVxDevice(cell);
    }
}

void CHDaisySearch::execute()
{
    m_cellCount = 0;
    VxDevice* head = m_device.data();
    VxNetwork* net = head ? head->vxNetwork() : nullptr;
    if (!net)
        return;

    VxNetwork::BusLocker lock(net);
    removeEarlierCells(head);
    const auto address = quint16(head->address());
    VxDevice* previous = head;
    for (int k = 1; k <= MaxCells; ++k) {
        if (isAborted())
            break;
        quint32 guid = 0;
        if (net->readGuid(quint16(k), address, guid) != VxNetwork::StatusAnswer)
            break;
        VxDevice* cell = net->makeDevice(address, QStringLiteral("Cell %1").arg(k));
        cell->setSkipCount(quint16(k));
        cell->triggerSearchParameters();
        cell->triggerUpdate();
        previous->setOutputDevice(cell);
        head->addChild(cell, true);
        previous = cell;
        ++m_cellCount;
        reportProgress(k, MaxCells);
    }
}

} // namespace halvorn::vx
