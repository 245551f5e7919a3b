#pragma once

#include "dmx/dmxnetwork.h"

#include <QList>
#include <QPointer>
#include <QVector>
#include <QWidget>

class QAction;
class QCheckBox;
class QGraphicsScene;
class QSpinBox;
class QTabBar;

namespace halvorn::general {
class Device;
}

namespace halvorn::dmx {

class DMXDeviceStringDialog;
class DMXSetpointChannelView;
class DMXSetpointDeviceView;
class MyGraphicsView;
class UniverseGraphicsItem;

// The set-point buffer of a DMX network as a grid of level cells, one per
// address 1 … columns × rows of universe 0, with the network's devices as
// boxes over the cells they occupy (see DMXSetpointChannelView and
// DMXSetpointDeviceView for the mouse). The "8 bit" / "16 bit" tabs show
// the cells as single addresses or as high/low pairs (every other cell,
// double width).
//
// The cells show what the buffer holds: a drag writes the buffer (on the
// GUI thread — its slots are atomic) and the buffer's byteChanged() repaints
// the cells. Devices are changed only in their network's thread.
class DMXSetpointView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FadeMs = 200;

    DMXSetpointView(int columns, int rows, int cellWidth, int cellHeight, bool showAutoUpdate,
                    QWidget* parent = nullptr);
    ~DMXSetpointView() override;

    void setNetwork(halvorn::dmx::DMXNetwork* network);
    DMXNetwork* network() const { return m_network; }

    // Writes the value to the buffer at every selected cell (8-bit cells
    // take its low byte, 16-bit cells the word).
    void setSelectedValue(int value);

    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    int cellCount() const { return m_columns * m_rows; }
    QSizeF cellSize() const { return {qreal(m_cellWidth), qreal(m_cellHeight)}; }
    // Where the cell of an address sits in its universe (1-based address).
    QPointF cellPosition(int address) const;
    // Null outside the grid.
    DMXSetpointChannelView* cell(quint8 universe, quint16 address) const;
    UniverseGraphicsItem* universeItem(quint8 universe) const;
    bool is8Bit() const { return m_is8Bit; }
    // One entry per device the network announced; null for devices that
    // are not DMX devices and for devices that have gone.
    QList<DMXSetpointDeviceView*> deviceViews() const;
    DMXSetpointDeviceView* deviceView(const DMXDevice* device) const;

    MyGraphicsView* graphicsView() const { return m_graphicsView; }
    QGraphicsScene* scene() const { return m_scene; }
    QTabBar* tabBar() const { return m_tabBar; }
    QCheckBox* autoUpdateBox() const { return m_autoUpdateBox; }
    QSpinBox* updateRateBox() const { return m_updateRateBox; }

    // The drop of a device box on a cell: the network's device of that
    // index (counting devices only) moves to the universe and address.
    // False when there is no such DMX device.
    bool moveDevice(int deviceIndex, quint8 universe, quint16 address);
    // Create the string of devices the dialog asks for, in the network's
    // thread; appendDevices() chains it behind `device`.
    void createDevices(const DMXDeviceStringDialog& dialog);
    void appendDevices(DMXDevice* device, const DMXDeviceStringDialog& dialog);

public Q_SLOTS:
    void setpointByteChanged(unsigned char uni, unsigned short addr);
    void deviceAdded(halvorn::general::Device* dev);
    void autoUpdateStateChanged(int state);
    void updateRateValueChanged(int value);
    void dmxChannelCountChanged(int value);
    void setUniverse(QAction* act);
    void networkResTabChanged(int index);

private Q_SLOTS:
    void deviceRemoved(halvorn::general::Device* dev);

private:
    void reloadCells();
    void reloadCell(DMXSetpointChannelView* cell);
    void clearDeviceViews();

    const int m_columns;
    const int m_rows;
    const int m_cellWidth;
    const int m_cellHeight;
    const int m_spacing = 0;
    QPointer<DMXNetwork> m_network;
    QList<QMetaObject::Connection> m_networkConnections;
    QVector<DMXSetpointChannelView*> m_cells; // index = universe × 512 + address − 1
    QVector<UniverseGraphicsItem*> m_universeItems;
    QList<QPointer<DMXSetpointDeviceView>> m_deviceViews;
    UniverseGraphicsItem* m_currentUniverse = nullptr;
    bool m_is8Bit = true;

    QGraphicsScene* m_scene;
    MyGraphicsView* m_graphicsView;
    QTabBar* m_tabBar;
    QCheckBox* m_autoUpdateBox = nullptr;
    QSpinBox* m_updateRateBox = nullptr;
};

} // namespace halvorn::dmx
