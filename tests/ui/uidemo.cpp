// A window that shows the generic widgets with made-up data, for looking at
// them: the device tree with its node menus (right click), parameter
// editors, a log that keeps growing, the output slider and the status
// widget. Not a test.
//
//   uidemo                 a window (offscreen: pass -platform offscreen)
//   uidemo shot.png        renders the window into a picture and quits
#include "general/device.h"
#include "general/log.h"
#include "general/network.h"
#include "general/parameter.h"
#include "general/ui/appmenubar.h"
#include "general/ui/devicestatuswidget.h"
#include "general/ui/hexspinbox.h"
#include "general/ui/logwidget.h"
#include "general/ui/outputslider.h"
#include "general/ui/parameterintproxy.h"
#include "general/ui/parameterproxyviewgroup.h"
#include "general/ui/treenodecontroller.h"
#include "general/ui/treenodemenu.h"
#include "general/ui/treenodemodel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

using namespace halvorn::general;

namespace {

class DemoDevice : public Device
{
public:
    DemoDevice(Network* network, uint address)
        : Device(network, address, QStringLiteral("Driver"))
    {
        setIcons(QStringLiteral(":/icons/usb/connected"), QStringLiteral(":/icons/usb/disconnected"));
    }
    QString infoText() const override { return QStringLiteral("<b>Demo driver</b><br>address %1").arg(address()); }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/app/tivaro.svg")));

    TreeNode root;
    TreeNodeController controller;
    root.setController(&controller);
    auto* network = new Network;
    root.addChild(network, false);
    auto* device = new DemoDevice(network, 0);
    device->setName(QStringLiteral("Broadcast"));
    network->addChild(device, true);
    const char* names[] = {"DMX address", "Fade time", "Minimum level", "Maximum level"};
    for (int i = 0; i < 4; ++i) {
        auto* parameter = new Parameter(device, uint(11001 + i), QString::fromLatin1(names[i]),
                                        QStringLiteral("What %1 does").arg(QString::fromLatin1(names[i])), 0, 512,
                                        i == 3 ? -1 : 10 * (i + 1), false, false, i == 1 ? 1 : 0);
        device->addParameter(device, parameter);
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Tivaro widgets"));
    auto* layout = new QVBoxLayout(&window);
    auto* splitter = new QSplitter(Qt::Horizontal);
    layout->addWidget(splitter);

    auto* model = new TreeNodeModel(&root, &window);
    controller.setModel(model);
    auto* tree = new QTreeView;
    tree->setUniformRowHeights(true);
    tree->setModel(model);
    tree->expandAll();
    tree->header()->resizeSection(0, 180);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(tree, &QTreeView::customContextMenuRequested, tree, [tree, model](const QPoint& pos) {
        TreeNodeMenu::popupFor(model->nodeForIndex(tree->indexAt(pos)), tree->viewport()->mapToGlobal(pos));
    });
    splitter->addWidget(tree);

    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    auto* group = new ParameterProxyViewGroup(QStringLiteral("Driver settings"));
    for (int i = 0; i < 4; ++i)
        group->addProxy(new ParameterIntProxy(uint(11001 + i)));
    group->addProxy(new ParameterIntProxy(11099)); // not on the device: hidden
    group->setNetwork(network);
    rightLayout->addWidget(group);
    auto* hex = new HexSpinBox;
    hex->setRange(0, 65535);
    hex->setValue(0x1F);
    rightLayout->addWidget(hex);
    auto* slider = new OutputSlider;
    slider->setValue(0.5f);
    slider->setShowMarkers(true);
    rightLayout->addWidget(slider);
    auto* grey = new OutputSlider;
    grey->setValue(0.3f);
    grey->setLinear(true);
    grey->setInteractive(false);
    rightLayout->addWidget(grey);
    auto* status = new DeviceStatusWidget;
    status->setDevice(device);
    rightLayout->addWidget(status);
    splitter->addWidget(right);

    Log log(QStringLiteral("Demo log"));
    for (int type = 0; type < 12; ++type)
        log.logMessage(GENERAL, QStringLiteral("a message of type %1").arg(type), MessageType(type), nullptr);
    auto* logWidget = new LogWidget;
    logWidget->setLog(&log);
    layout->addWidget(logWidget);
    QTimer growing;
    QObject::connect(&growing, &QTimer::timeout, &log, [&log] {
        static int n = 0;
        log.logMessage(DALI, QStringLiteral("ANSWER  %1").arg(++n), REPLY, nullptr);
    });
    growing.start(100);
    QTimer::singleShot(1500, device, [device] { device->setConnected(); });

    window.resize(1100, 700);
    window.show();
    int result = 0;
    if (argc > 1 && !QByteArray(argv[argc - 1]).startsWith('-')) {
        const QString path = QString::fromLocal8Bit(argv[argc - 1]);
        QTimer::singleShot(2000, &window, [&window, path] {
            window.grab().save(path);
            QApplication::quit();
        });
    }
    result = app.exec();
    root.setController(nullptr);
    return result;
}
