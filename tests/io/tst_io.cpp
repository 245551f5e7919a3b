// Inputs, outputs, the I/O manager, channels and their display options.

#include "general/channel.h"
#include "general/channeldisplayoptions.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/output.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using namespace halvorn::general;

// Lives in another thread and records the values its inputs announce, the
// way a network reacts to inputValueChanged in its own thread.
class InputListener : public QObject
{
    Q_OBJECT
public:
    QList<double> values;   // only touched in this object's thread
    QList<QThread*> threads;

public Q_SLOTS:
    void inputValueChanged(halvorn::general::Input* input)
    {
        values << input->value();
        threads << QThread::currentThread();
    }
};

class TestIO : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void inputAnnouncesEveryValue();
    void outputFansOutInOrder_data();
    void outputFansOutInOrder();
    void outputSkipsInputsThatAreGone();
    void inputsInANetworkThreadReceiveValuesInOrder();
    void managerCreatesEachNameOnce();
    void managerRacingThreadsCreateOnce();

    void channelClampsItsLevel_data();
    void channelClampsItsLevel();
    void channelValueAndText_data();
    void channelValueAndText();
    void channelValueSetsTheLevel_data();
    void channelValueSetsTheLevel();
    void channelStepsStopAtTheEnds();
    void channelAnnouncesEveryLevel();
    void channelRangeKeepsTheLevelInside();
    void displayOptionsGradientFollowsTheColourSlots();
};

void TestIO::inputAnnouncesEveryValue()
{
    Input input;
    QSignalSpy changed(&input, &Input::inputValueChanged);
    QCOMPARE(input.value(), 0.0);

    input.setValue(0.5);
    input.setValue(0.5);
    input.setValue(-2.0);

    QCOMPARE(changed.count(), 3);
    QCOMPARE(changed.at(1).at(0).value<Input*>(), &input);
    QCOMPARE(input.value(), -2.0);
    QCOMPARE(input.data(4, Qt::DisplayRole).toString(), QStringLiteral("-2.000"));

    // The stated maximum describes the source; values are not clamped to it.
    input.setMaximumValue(1.0);
    input.setValue(3.0);
    QCOMPARE(input.maximumValue(), 1.0);
    QCOMPARE(input.value(), 3.0);
}

void TestIO::outputFansOutInOrder_data()
{
    QTest::addColumn<QList<int>>("attach"); // indexes of the inputs, in attaching order
    QTest::addColumn<QList<int>>("received");

    QTest::newRow("no input") << QList<int>{} << QList<int>{};
    QTest::newRow("one input") << QList<int>{1} << QList<int>{1};
    QTest::newRow("in attaching order") << QList<int>{2, 0, 1} << QList<int>{2, 0, 1};
    QTest::newRow("same input twice") << QList<int>{0, 1, 0} << QList<int>{0, 1, 0};
}

void TestIO::outputFansOutInOrder()
{
    QFETCH(QList<int>, attach);
    QFETCH(QList<int>, received);

    Output output;
    Input inputs[3];
    QList<int> order;
    for (int i = 0; i < 3; ++i)
        connect(&inputs[i], &Input::inputValueChanged, this, [&order, i] { order << i; });
    for (int index : attach)
        output.addInput(&inputs[index]);

    output.setValue(0.75);

    QCOMPARE(order, received);
    QCOMPARE(output.inputCount(), int(attach.size()));
    for (int index : attach)
        QCOMPARE(inputs[index].value(), 0.75);
}

void TestIO::outputSkipsInputsThatAreGone()
{
    Output output;
    auto gone = std::make_unique<Input>();
    Input kept;
    output.addInput(gone.get());
    output.addInput(&kept);
    output.addInput(nullptr);
    gone.reset();

    output.setValue(0.25);
    QCOMPARE(kept.value(), 0.25);

    output.removeInput(&kept);
    output.setValue(0.5);
    QCOMPARE(kept.value(), 0.25);
}

void TestIO::inputsInANetworkThreadReceiveValuesInOrder()
{
    QThread networkThread;
    networkThread.start();
    auto* manager = new IOManager;
    Input* input = manager->input(QStringLiteral("Broadcast Setpoint"));
    InputListener listener;
    connect(input, &Input::inputValueChanged, &listener, &InputListener::inputValueChanged);
    manager->moveToThread(&networkThread);
    input->moveToThread(&networkThread);
    listener.moveToThread(&networkThread);
    Output output;
    output.addInput(input);

    for (int i = 1; i <= 100; ++i)
        output.setValue(i / 100.0);

    QList<double> values;
    QList<QThread*> threads;
    const auto received = [&] {
        QMetaObject::invokeMethod(
            &listener, [&] { values = listener.values; threads = listener.threads; },
            Qt::BlockingQueuedConnection);
        return values.size();
    };
    QTRY_COMPARE_WITH_TIMEOUT(received(), 100, 5000);
    // Every value was announced (the listener may read a newer value than
    // the one announced, but never an older one), in the listener's thread.
    for (int i = 1; i < values.size(); ++i)
        QVERIFY(values.at(i) >= values.at(i - 1));
    QCOMPARE(values.last(), 1.0);
    QVERIFY(threads.count(&networkThread) == threads.size());

    networkThread.quit();
    QVERIFY(networkThread.wait(5000));
    delete manager;
}

void TestIO::managerCreatesEachNameOnce()
{
    IOManager manager;
    QCOMPARE(manager.name(), QStringLiteral("Inputs/outputs"));

    Output* output = manager.output(QStringLiteral("Output"));
    Input* input = manager.input(QStringLiteral("Output"));
    Output* again = manager.output(QStringLiteral("Output"));
    Output* other = manager.output(QStringLiteral("KEY_1"));

    QVERIFY(output && input && other);
    QCOMPARE(again, output);
    QVERIFY(other != output);
    QCOMPARE(manager.childCount(), 3);
    QCOMPARE(output->name(), QStringLiteral("Output"));
    QCOMPARE(output->parentNode(), &manager);
    QCOMPARE(manager.findIO(QStringLiteral("KEY_1")), other);
    QCOMPARE(manager.findIO(QStringLiteral("Output")), output); // the first of that name
    QCOMPARE(manager.findIO(QStringLiteral("missing")), nullptr);
    QCOMPARE(manager.childCount(), 3); // finding creates nothing
}

void TestIO::managerRacingThreadsCreateOnce()
{
    QThread managerThread;
    managerThread.start();
    auto* manager = new IOManager;
    manager->moveToThread(&managerThread);

    constexpr int ThreadCount = 6;
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<Output*> results(ThreadCount, nullptr);
    for (int i = 0; i < ThreadCount; ++i) {
        threads.emplace_back(QThread::create([&results, manager, i] {
            results[i] = manager->output(QStringLiteral("Shared"));
        }));
        threads.back()->start();
    }
    for (auto& thread : threads)
        QVERIFY(thread->wait(5000));

    QCOMPARE(manager->childCount(), 1);
    for (Output* result : results)
        QCOMPARE(result, manager->output(QStringLiteral("Shared")));
    // Created by a foreign thread, living in the manager's.
    QCOMPARE(results.front()->thread(), &managerThread);

    managerThread.quit();
    QVERIFY(managerThread.wait(5000));
    delete manager;
}

void TestIO::channelClampsItsLevel_data()
{
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("stored");

    QTest::newRow("above the maximum") << 0 << 100 << 150 << 100;
    QTest::newRow("below the minimum") << 0 << 100 << -5 << 0;
    QTest::newRow("inside") << 0 << 100 << 42 << 42;
    QTest::newRow("at the maximum") << 0 << 255 << 255 << 255;
    QTest::newRow("offset range, below") << 10 << 20 << 5 << 10;
    QTest::newRow("offset range, above") << 10 << 20 << 21 << 20;
    QTest::newRow("negative range") << -50 << -10 << 0 << -10;
    QTest::newRow("extreme") << 0 << 100 << std::numeric_limits<int>::min() << 0;
}

void TestIO::channelClampsItsLevel()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, set);
    QFETCH(int, stored);

    Channel channel(0);
    channel.setRange(min, max);
    channel.setLevel(set);
    QCOMPARE(channel.level(), stored);
}

void TestIO::channelValueAndText_data()
{
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("percentage");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");

    //                                         min  max   level  %      raw    value   text
    QTest::newRow("quarter, both")          << 0 << 100 << 25 << true  << true  << 0.25f << "25.0% (25)";
    QTest::newRow("quarter, percentage")    << 0 << 100 << 25 << true  << false << 0.25f << "25.0%";
    QTest::newRow("quarter, raw only")      << 0 << 100 << 25 << false << true  << 0.25f << "25";
    QTest::newRow("neither: empty")         << 0 << 100 << 25 << false << false << 0.25f << "";
    QTest::newRow("DMX byte, one decimal")  << 0 << 255 << 128 << true << true  << 128.0f / 255 << "50.2% (128)";
    QTest::newRow("offset range")           << 10 << 20 << 15 << true << true   << 0.5f  << "50.0% (15)";
    QTest::newRow("full")                   << 0 << 100 << 100 << true << false << 1.0f  << "100.0%";
    QTest::newRow("empty range")            << 7 << 7 << 7 << true << true      << 0.0f  << "0.0% (7)";
}

void TestIO::channelValueAndText()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, level);
    QFETCH(bool, percentage);
    QFETCH(bool, raw);
    QFETCH(float, value);
    QFETCH(QString, text);

    Channel channel(3);
    channel.setRange(min, max);
    channel.setLevel(level);
    channel.displayOptions()->setShowPercentage(percentage);
    channel.displayOptions()->setShowRawValue(raw);

    QCOMPARE(channel.value(), value);
    QCOMPARE(channel.property("value").toFloat(), value);
    QCOMPARE(channel.valueText(), text);
}

void TestIO::channelValueSetsTheLevel_data()
{
    QTest::addColumn<int>("max");
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("level");

    QTest::newRow("quarter") << 100 << 0.25f << 25;
    QTest::newRow("truncated, not rounded") << 100 << 0.257f << 25;
    QTest::newRow("0.29 of 100 is 29") << 100 << 0.29f << 29;
    QTest::newRow("byte") << 255 << 0.5f << 127;
    QTest::newRow("above one is clamped") << 100 << 2.0f << 100;
    QTest::newRow("negative is clamped") << 100 << -0.5f << 0;
    QTest::newRow("huge is clamped") << 100 << 1e30f << 100;
    QTest::newRow("infinity is clamped") << 100 << std::numeric_limits<float>::infinity() << 100;
    QTest::newRow("not a number is ignored") << 100 << std::numeric_limits<float>::quiet_NaN() << 40;
}

void TestIO::channelValueSetsTheLevel()
{
    QFETCH(int, max);
    QFETCH(float, value);
    QFETCH(int, level);

    Channel channel(0);
    channel.setRange(0, max);
    channel.setLevel(40);
    channel.setProperty("value", value);
    QCOMPARE(channel.level(), level);
}

void TestIO::channelStepsStopAtTheEnds()
{
    Channel channel(0);
    channel.setRange(0, 3);
    channel.setLevel(2);

    QCOMPARE(channel.stepUp(), 3);
    QCOMPARE(channel.stepUp(), 3);
    channel.up();
    QCOMPARE(channel.level(), 3);

    channel.setLevel(1);
    QCOMPARE(channel.stepDown(), 0);
    QCOMPARE(channel.stepDown(), 0);
    channel.down();
    QCOMPARE(channel.level(), 0);

    channel.setLevel(2);
    channel.reset();
    QCOMPARE(channel.level(), 0);
}

void TestIO::channelAnnouncesEveryLevel()
{
    Channel channel(0);
    QSignalSpy changed(&channel, &Channel::channelChanged);

    channel.setLevel(10);
    channel.setLevel(10);
    channel.setLevel(500); // clamped, still announced
    QCOMPARE(changed.count(), 3);

    // A step that cannot move changes nothing and announces nothing.
    changed.clear();
    channel.stepUp();
    QCOMPARE(changed.count(), 0);
    channel.stepDown();
    QCOMPARE(changed.count(), 1);
}

void TestIO::channelRangeKeepsTheLevelInside()
{
    Channel channel(0);
    channel.setLevel(80);
    QSignalSpy changed(&channel, &Channel::channelChanged);

    channel.setRange(0, 50);
    QCOMPARE(channel.level(), 50);
    QCOMPARE(changed.count(), 1);

    channel.setRange(255, 0); // reversed
    QCOMPARE(channel.minimum(), 0);
    QCOMPARE(channel.maximum(), 255);
    QCOMPARE(channel.span(), 255);
    QCOMPARE(channel.level(), 50);
    QCOMPARE(changed.count(), 1);

    channel.setRange(60, 70);
    QCOMPARE(channel.level(), 60);
}

void TestIO::displayOptionsGradientFollowsTheColourSlots()
{
    ChannelDisplayOptions options;
    QSignalSpy changed(&options, &ChannelDisplayOptions::optionsChanged);

    QMetaObject::invokeMethod(&options, "setBackgroundFromColour", Q_ARG(QColor, QColor(Qt::red)));
    QMetaObject::invokeMethod(&options, "setBackgroundToColour", Q_ARG(QColor, QColor(Qt::blue)));
    options.setBackgroundToColour(QColor(Qt::blue)); // unchanged: no signal
    QCOMPARE(changed.count(), 2);

    const QGradientStops stops = options.backgroundGradient().stops();
    QCOMPARE(stops.size(), 2);
    QCOMPARE(stops.at(0).first, 0.0);
    QCOMPARE(stops.at(0).second, QColor(Qt::red));
    QCOMPARE(stops.at(1).first, 1.0);
    QCOMPARE(stops.at(1).second, QColor(Qt::blue));
    QCOMPARE(options.backgroundGradient().finalStop().x(), 1.0); // horizontal

    options.setOrientation(Qt::Vertical);
    const QLinearGradient vertical = options.backgroundGradient();
    QCOMPARE(vertical.start(), QPointF(0.0, 1.0)); // from the bottom up
    QCOMPARE(vertical.finalStop(), QPointF(0.0, 0.0));

    options.setRange(200, 10);
    QCOMPARE(options.rangeMinimum(), 10);
    QCOMPARE(options.rangeMaximum(), 200);
    QCOMPARE(changed.count(), 4);
}

QTEST_GUILESS_MAIN(TestIO)
#include "tst_io.moc"
