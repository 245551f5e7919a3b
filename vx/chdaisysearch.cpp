#include "vx/chdaisysearch.h"

#include "general/log.h"
#include "vx/vxdevice.h"
#include "vx/vxnetwork.h"

#include <QSemaphore>
#include <QThread>

#include <memory>

namespace halvorn::vx {

CHDaisySearch::CHDaisySearch(const QString& name, VxDevice* device, bool deleteWhenDone)
    : general::Search(name, deleteWhenDone)
    , m_device(device)
{
    setTarget(device);
}

namespace {

// Long enough for a network thread busy with a status tick; a network that
// does not get to it within this time is as good as gone.
constexpr int RemovalWaitMs = 5000;

// In the network's thread: unlinks the cells of an earlier search from the
// head and from each other, then removes them (they are deleted later in
// that thread). Once unlinked, linking the new cells never reaches them.
void unlinkAndRemoveCells(VxDevice* head, VxNetwork* net)
{
    QList<VxDevice*> cells;
    for (general::TreeNode* child : head->childNodes()) {
        auto* cell = qobject_cast<VxDevice*>(child);
        if (cell && cell->skipCount() > 0)
            cells.append(cell);
    }
    head->setOutputDevice(nullptr);
    for (VxDevice* cell : cells) {
        cell->setOutputDevice(nullptr);
        net->removeVxDevice(cell);
    }
}

} // namespace

bool CHDaisySearch::removeEarlierCells(VxDevice* head, VxNetwork* net)
{
    if (QThread::currentThread() == net->thread()) {
        unlinkAndRemoveCells(head, net);
        return true;
    }
    // Devices are removed and deleted in the network's thread: wait for it,
    // so that no cell is deleted there while this thread relinks the chain.
    auto done = std::make_shared<QSemaphore>();
    QPointer<VxDevice> guardedHead(head);
    QPointer<VxNetwork> guardedNet(net);
    QMetaObject::invokeMethod(
        net,
        [done, guardedHead, guardedNet] {
            if (guardedHead && guardedNet)
                unlinkAndRemoveCells(guardedHead.data(), guardedNet.data());
            done->release();
        },
        Qt::QueuedConnection);
    return done->tryAcquire(1, RemovalWaitMs);
}

void CHDaisySearch::execute()
{
    m_cellCount = 0;
    VxDevice* head = m_device.data();
    VxNetwork* net = head ? head->vxNetwork() : nullptr;
    if (!net)
        return;

    if (!removeEarlierCells(head, net)) {
        general::logToMain(general::GENERAL,
                           QStringLiteral("Daisy search: the network did not remove the earlier cells, search ended"),
                           general::FAILURE);
        return;
    }
    VxNetwork::BusLocker lock(net);
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
