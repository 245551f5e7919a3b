// Inputs, outputs, the I/O manager, channels and their display options.

#include "general/channel.h"
#include "general/channeldisplayoptions.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/output.h"
#include "tests/support/testthreads.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

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
    void outputFansOutInAttachingOrder();
    void inputsInANetworkThreadReceiveValuesInOrder();
    void managerCreatesEachNameOnce();
    void managerRacingThreadsCreateOnce();

    void channelLevelIsClamped_data();
    void channelLevelIsClamped();
    void channelValueAndText_data();
    void channelValueAndText();
    void channelStepsStopAtTheEndsAndAnnounceOnlyMoves();
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

void TestIO::outputFansOutInAttachingOrder()
{
    Output output;
    Input inputs[3];
    QList<int> order;
    for (int i = 0; i < 3; ++i)
        connect(&inputs[i], &Input::inputValueChanged, this, [&order, i] { order << i; });
    output.setValue(0.1); // no input yet
    auto gone = std::make_unique<Input>();
    output.addInput(gone.get());
    for (int index : {2, 0, 1, 0})
        output.addInput(&inputs[index]);
    output.addInput(nullptr);
    gone.reset();

    output.setValue(0.75);
    QCOMPARE(order, (QList<int>{2, 0, 1, 0}));
    QCOMPARE(inputs[1].value(), 0.75);

    order.clear();
    output.removeInput(&inputs[0]); // every time it was attached
    output.setValue(0.5);
    QCOMPARE(order, (QList<int>{2, 1}));
    QCOMPARE(inputs[0].value(), 0.75);
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
    Output* output = manager.output(QStringLiteral("Output"));
    Input* input = manager.input(QStringLiteral("Output"));
    Output* other = manager.output(QStringLiteral("KEY_1"));
    QVERIFY(output && input && other && other != output);
    QCOMPARE(manager.output(QStringLiteral("Output")), output);
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

    std::vector<Output*> results(6, nullptr);
    QVERIFY(halvorn::test::runInThreads(6, [&](int i) { results[i] = manager->output(QStringLiteral("Shared")); }, 5000));

    QCOMPARE(manager->childCount(), 1);
    for (Output* result : results)
        QCOMPARE(result, manager->output(QStringLiteral("Shared")));
    // Created by a foreign thread, living in the manager's.
    QCOMPARE(results.front()->thread(), &managerThread);

    managerThread.quit();
    QVERIFY(managerThread.wait(5000));
    delete manager;
}

void TestIO::channelLevelIsClamped_data()
{
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<QVariant>("set"); // an int sets the level, a float the value (0..1)
    QTest::addColumn<int>("level");
    const float infinity = std::numeric_limits<float>::infinity();
    //                                          min    max    set                         level
    QTest::newRow("level above the maximum")  << 0   << 100 << QVariant(150)             << 100;
    QTest::newRow("level below the minimum")  << 0   << 100 << QVariant(-5)              << 0;
    QTest::newRow("level below offset range") << 10  << 20  << QVariant(5)               << 10;
    QTest::newRow("level above offset range") << 10  << 20  << QVariant(21)              << 20;
    QTest::newRow("negative range")           << -50 << -10 << QVariant(0)               << -10;
    QTest::newRow("extreme level")            << 0   << 100 << QVariant(std::numeric_limits<int>::min()) << 0;
    QTest::newRow("value: a quarter")         << 0   << 100 << QVariant(0.25f)           << 25;
    QTest::newRow("value truncated")          << 0   << 100 << QVariant(0.257f)          << 25;
    QTest::newRow("value 0.29 of 100 is 29")  << 0   << 100 << QVariant(0.29f)           << 29;
    QTest::newRow("value of a byte")          << 0   << 255 << QVariant(0.5f)            << 127;
    QTest::newRow("value above one")          << 0   << 100 << QVariant(2.0f)            << 100;
    QTest::newRow("negative value")           << 0   << 100 << QVariant(-0.5f)           << 0;
    QTest::newRow("infinite value")           << 0   << 100 << QVariant(infinity)        << 100;
    QTest::newRow("not a number is ignored")  << 0   << 100 << QVariant(std::numeric_limits<float>::quiet_NaN()) << 40;
}

void TestIO::channelLevelIsClamped()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(QVariant, set);
    QFETCH(int, level);

    Channel channel(0);
    channel.setLevel(40);
    channel.setRange(min, max);
    if (set.typeId() == QMetaType::Float)
        channel.setProperty("value", set);
    else
        channel.setLevel(set.toInt());
    QCOMPARE(channel.level(), level);
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

void TestIO::channelStepsStopAtTheEndsAndAnnounceOnlyMoves()
{
    Channel channel(0);
    channel.setRange(0, 3);
    channel.setLevel(2);
    QSignalSpy changed(&channel, &Channel::channelChanged);

    QCOMPARE(channel.stepUp(), 3);
    QCOMPARE(channel.stepUp(), 3);
    channel.up();
    QCOMPARE(channel.level(), 3);
    QCOMPARE(changed.count(), 1); // a step that cannot move announces nothing
    channel.setLevel(3);
    channel.setLevel(500); // the same or clamped: still announced
    QCOMPARE(changed.count(), 3);

    channel.setLevel(1);
    QCOMPARE(channel.stepDown(), 0);
    QCOMPARE(channel.stepDown(), 0);
    channel.down();
    QCOMPARE(channel.level(), 0);
    channel.setLevel(2);
    channel.reset();
    QCOMPARE(channel.level(), 0);
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

    const QLinearGradient horizontal = options.backgroundGradient();
    QCOMPARE(horizontal.stops(), (QGradientStops{{0.0, QColor(Qt::red)}, {1.0, QColor(Qt::blue)}}));
    QCOMPARE(horizontal.finalStop().x(), 1.0);
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
