// Parameter proxies and their editors, on a network whose device 0 gets its
// parameters from the network's thread, as a parameter search delivers them.
#include "general/device.h"
#include "general/network.h"
#include "general/parameter.h"
#include "general/ui/parameterintproxy.h"
#include "general/ui/parameteroptionproxy.h"
#include "general/ui/parameterproxyview.h"
#include "general/ui/parameterproxyviewgroup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QVBoxLayout>

#include <atomic>

using namespace halvorn::general;

namespace {

constexpr int kWaitMs = 10000;

struct Write {
    uint number;
    int value;
    bool operator==(const Write&) const = default;
};

// A device that records the values written to it instead of sending them.
class RecordingDevice : public Device
{
public:
    RecordingDevice(Network* network, uint address)
        : Device(network, address, QStringLiteral("Driver"))
    {
    }
    void uploadParameter(Parameter* param, bool& ok) override
    {
        // A silent dongle: the write takes until the test lets it go.
        if (QSemaphore* gate = m_slowBus.load())
            gate->tryAcquire(1, 5000);
        QMutexLocker lock(&m_mutex);
        m_writes.append({param->number(), param->storedValue()});
        ok = true;
    }
    void setSlowBus(QSemaphore* gate) { m_slowBus = gate; }
    QList<Write> writes() const
    {
        QMutexLocker lock(&m_mutex);
        return m_writes;
    }

private:
    mutable QMutex m_mutex;
    QList<Write> m_writes;
    std::atomic<QSemaphore*> m_slowBus{nullptr};
};

class TestNetwork : public Network
{
public:
    Device* createDevice(uint address, const QString& name) override
    {
        auto* device = new RecordingDevice(this, address);
        device->setName(name);
        addChild(device, true);
        emit deviceFound(device);
        return device;
    }
};

// Runs a function in the thread of an object and waits for it (bounded).
template<typename F>
void runIn(QObject* object, F function)
{
    QSemaphore done;
    QMetaObject::invokeMethod(object, [&] {
        function();
        done.release();
    });
    QVERIFY(done.tryAcquire(1, kWaitMs));
}

// The writes made once every write queued into the device's thread has run.
QList<Write> settledWrites(RecordingDevice* device)
{
    runIn(device, [] {});
    return device->writes();
}

// Adds a parameter to the device in the device's thread, as a parameter
// search does.
Parameter* addParameter(Device* device, uint number, const QString& name, int value, bool readOnly = false)
{
    Parameter* added = nullptr;
    runIn(device, [&] {
        auto* parameter = new Parameter(device, number, name, QStringLiteral("tip of ") + name, 0, 1000, value,
                                        false, readOnly, Parameter::Decimal);
        added = device->addParameter(device, parameter);
    });
    return added;
}

// Types `text` over the box's contents and leaves the box with `key`.
void typeInto(QSpinBox* box, const QString& text, Qt::Key key = Qt::Key_Tab)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, key);
}

// A window with two rows of editors, so that focus can move between them.
struct Editors {
    TestNetwork network;
    RecordingDevice* device = nullptr;
    QWidget window;
    ParameterProxyViewGroup* group = nullptr;

    Editors()
    {
        device = static_cast<RecordingDevice*>(network.createDevice(0, QStringLiteral("Broadcast")));
        group = new ParameterProxyViewGroup(QStringLiteral("Settings"), &window);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(group);
    }
    ~Editors()
    {
        window.hide();
    }
    ParameterProxyView* add(uint number)
    {
        return group->addProxy(new ParameterIntProxy(number));
    }
    bool showActive()
    {
        group->setNetwork(&network);
        window.show();
        QApplication::setActiveWindow(&window);
        return QTest::qWaitForWindowActive(&window);
    }
};

} // namespace

class TestParameterProxy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowFollowsTheParameterFromTheNetworkThread();
    void typedValueIsWrittenWithoutWaitingForTheBus();
    void tabbingThroughWritesNothing_data();
    void tabbingThroughWritesNothing();
    void optionProxyPicksAndWritesSettings();
};

void TestParameterProxy::rowFollowsTheParameterFromTheNetworkThread()
{
    Editors editors;
    ParameterProxyView* view = editors.add(11001);
    QVERIFY(editors.showActive());
    QVERIFY(!view->spinBox()->isVisible() && !view->label()->isVisible());

    // The search finds the parameter, not yet read.
    Parameter* parameter = addParameter(editors.device, 11001, QStringLiteral("DMX address"), -1);
    QTRY_VERIFY_WITH_TIMEOUT(view->spinBox()->isVisible(), kWaitMs);
    QVERIFY(view->label()->isVisible());
    QCOMPARE(view->label()->text(), QStringLiteral("11001. DMX address"));
    QCOMPARE(view->spinBox()->text(), QString());
    QCOMPARE(view->spinBox()->maximum(), 1000);
    QCOMPARE(view->spinBox()->toolTip(), QStringLiteral("tip of DMX address"));
    runIn(parameter, [parameter] { parameter->setValue(777, false); });
    QTRY_COMPARE_WITH_TIMEOUT(view->spinBox()->text(), QStringLiteral("777"), kWaitMs);
    QVERIFY(!view->spinBox()->isReadOnly());
    // A read that fails leaves no value to show, and nothing to edit.
    runIn(parameter, [parameter] {
        parameter->setReadState(Parameter::ReadFailed);
        parameter->setValue(777, false); // announces the change
    });
    QTRY_VERIFY_WITH_TIMEOUT(view->spinBox()->isReadOnly(), kWaitMs);
    QCOMPARE(view->spinBox()->text(), QString());

    // The dongle goes: device 0 leaves the network, the row hides; it comes
    // back with a new device 0 and its parameters.
    editors.network.removeDevice(editors.device);
    QTRY_VERIFY_WITH_TIMEOUT(!view->spinBox()->isVisible(), kWaitMs);
    Device* again = editors.network.createDevice(0, QStringLiteral("Broadcast"));
    addParameter(again, 11001, QStringLiteral("Level"), 9);
    QTRY_VERIFY_WITH_TIMEOUT(view->spinBox()->isVisible(), kWaitMs);
    QTRY_COMPARE(view->spinBox()->value(), 9);
    QVERIFY(settledWrites(static_cast<RecordingDevice*>(again)).isEmpty());
}

void TestParameterProxy::typedValueIsWrittenWithoutWaitingForTheBus()
{
    Editors editors;
    Parameter* parameter = addParameter(editors.device, 11001, QStringLiteral("Level"), 5);
    ParameterProxyView* view = editors.add(11001);
    QVERIFY(editors.showActive());
    QTRY_VERIFY(view->spinBox()->isVisible());
    QSemaphore bus;
    editors.device->setSlowBus(&bus);

    // The write waits for the bus in the network's thread; the box is free
    // again at once.
    QElapsedTimer editing;
    editing.start();
    typeInto(view->spinBox(), QStringLiteral("42"), Qt::Key_Return);
    QVERIFY2(editing.elapsed() < 1000, "the edit waited for the bus");
    QVERIFY(editors.device->writes().isEmpty());
    bus.release();
    QCOMPARE(settledWrites(editors.device), (QList<Write>{{11001, 42}}));
    QCOMPARE(parameter->value(), 42);
    editors.device->setSlowBus(nullptr);

    // The same value typed again is no change: nothing is written.
    typeInto(view->spinBox(), QStringLiteral("42"));
    QCOMPARE(settledWrites(editors.device).size(), 1);
}

void TestParameterProxy::tabbingThroughWritesNothing_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("unread value, emptied box")   << -1 << false;
    QTest::newRow("read-only parameter")         << 7  << true;
    QTest::newRow("value shown, left unchanged") << 7  << false;
}

void TestParameterProxy::tabbingThroughWritesNothing()
{
    // The box keeps its construction value 1 when emptied: were it written
    // on leaving the box, device 0 (the broadcast address) would set every
    // driver on the line to 1.
    QFETCH(int, value);
    QFETCH(bool, readOnly);
    Editors editors;
    addParameter(editors.device, 11001, QStringLiteral("Start address"), value, readOnly);
    addParameter(editors.device, 11002, QStringLiteral("Next"), 0);
    ParameterProxyView* first = editors.add(11001);
    ParameterProxyView* second = editors.add(11002);
    QVERIFY(editors.showActive());
    QTRY_VERIFY(first->spinBox()->isVisible() && second->spinBox()->isVisible());

    QCOMPARE(first->spinBox()->isReadOnly(), readOnly);
    QSignalSpy finished(first->spinBox(), &QAbstractSpinBox::editingFinished);
    first->spinBox()->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(first->spinBox()->hasFocus());
    QTest::keyClick(first->spinBox(), Qt::Key_Tab);
    QTRY_VERIFY(second->spinBox()->hasFocus());
    QVERIFY(finished.size() >= 1);
    QCOMPARE(settledWrites(editors.device), QList<Write>());
}

void TestParameterProxy::optionProxyPicksAndWritesSettings()
{
    Editors editors;
    Parameter* curve = addParameter(editors.device, 12, QStringLiteral("Curve"), 1);
    addParameter(editors.device, 13, QStringLiteral("Smooth"), 0);
    auto* proxy = new ParameterOptionProxy;
    ParameterOptionProxy::Option* linear = proxy->addOption(QStringLiteral("Linear"));
    linear->addSetting(12, 0);
    linear->addSetting(13, 1);
    ParameterOptionProxy::Option* logarithmic = proxy->addOption(QStringLiteral("Logarithmic"));
    logarithmic->addSetting(12, 1);
    logarithmic->addSetting(13, 0);
    ParameterProxyView* view = editors.group->addProxy(proxy);
    QVERIFY(editors.showActive());
    QCOMPARE(view->comboBox()->itemText(0), QStringLiteral("Linear"));
    QTRY_VERIFY(view->comboBox()->isVisible());
    QCOMPARE(view->comboBox()->currentIndex(), 1); // the settings match "Logarithmic"
    QVERIFY(settledWrites(editors.device).isEmpty());

    // Picking "Linear" writes both of its settings.
    view->comboBox()->setFocus();
    QTest::keyClick(view->comboBox(), Qt::Key_Up);
    QCOMPARE(view->comboBox()->currentIndex(), 0);
    QCOMPARE(settledWrites(editors.device), (QList<Write>{{12, 0}, {13, 1}}));
    QCOMPARE(proxy->value(), 0);

    // A change from the device moves the combo without writing.
    runIn(curve, [curve] { curve->setValue(1, false); });
    runIn(editors.device, [&] { editors.device->findParameter(13)->setValue(0, false); });
    QMetaObject::invokeMethod(editors.device, [&] { emit editors.device->updateFinished(); });
    QTRY_COMPARE_WITH_TIMEOUT(view->comboBox()->currentIndex(), 1, kWaitMs);
    QCOMPARE(settledWrites(editors.device).size(), 2);
}

QTEST_MAIN(TestParameterProxy)
#include "tst_parameterproxy.moc"
