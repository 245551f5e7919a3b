// Behaviour of the small widgets: the hexadecimal spin box, the output
// slider, the device status widget and the application menu bar.
#include "general/device.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/output.h"
#include "general/ui/appmenubar.h"
#include "general/ui/devicestatuswidget.h"
#include "general/ui/hexspinbox.h"
#include "general/ui/iconloader.h"
#include "general/ui/outputslider.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace halvorn::general;

namespace {

// A device family as the dongle is one: with icons and a status text.
class IconDevice : public Device
{
public:
    IconDevice()
        : Device(nullptr, 0, QStringLiteral("Portline"))
    {
        setIcons(QStringLiteral(":/icons/usb/connected"), QStringLiteral(":/icons/usb/disconnected"));
    }
    QString infoText() const override { return QStringLiteral("<b>Firmware 2.1</b>"); }
};

QLineEdit* editorOf(QAbstractSpinBox* box)
{
    return box->findChild<QLineEdit*>();
}

// The share of pixels in a rectangle whose colour is (nearly) grey.
double greyShare(const QImage& image, const QRect& area)
{
    int grey = 0;
    int total = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int spread = std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
            grey += spread <= 12 ? 1 : 0;
            ++total;
        }
    }
    return total ? double(grey) / total : 0.0;
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hexTextToValue_data();
    void hexTextToValue();
    void hexValueToText_data();
    void hexValueToText();
    void hexValidatesPerMode_data();
    void hexValidatesPerMode();
    void hexShowsSuffixAndAcceptsTyping();
    void hexModeSwitchKeepsValueAndAnnounces();
    void hexContextMenuSwitchesMode();
    void hexReportsIndexWithValue();
    void hexSelectsAllOnFocus();

    void sliderValueText_data();
    void sliderValueText();
    void sliderGeometryFollowsSizeAndValue();
    void sliderValueFromPosition_data();
    void sliderValueFromPosition();
    void sliderDragClampsAndWritesOutput();
    void sliderKeysSetTheirOutputs();
    void sliderIgnoresInputWhenNotInteractive();
    void sliderMirrorsInputWithoutWritingOutput();
    void sliderPaintsGreyWhenNotInteractive();
    void sliderFollowsChannelDisplayOptions();

    void statusFollowsDeviceState();
    void statusSetDeviceTwiceConnectsOnce();
    void statusFollowsDeviceInAnotherThread();
    void statusWithoutDeviceKeepsIcon();

    void menuBarIsOneWithWindowAndHelp();
    void menuBarRegisteredWindowShowsOnShortcut();
    void iconsAreCompiledIn_data();
    void iconsAreCompiledIn();
};

// ---------------------------------------------------------------- HexSpinBox

void TestWidgets::hexTextToValue_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    //                                      mode                      scale   text           value
    QTest::newRow("decimal")          << int(HexSpinBox::Decimal)        << 1.0   << "42"        << 42;
    QTest::newRow("decimal garbage")  << int(HexSpinBox::Decimal)        << 1.0   << "4x"        << 0;
    QTest::newRow("hex with suffix")  << int(HexSpinBox::Hexadecimal)    << 1.0   << "1Fh"       << 31;
    QTest::newRow("hex lower case")   << int(HexSpinBox::Hexadecimal)    << 1.0   << "ff"        << 255;
    QTest::newRow("hex only suffix")  << int(HexSpinBox::Hexadecimal)    << 1.0   << "h"         << 0;
    QTest::newRow("binary suffix")    << int(HexSpinBox::Binary)         << 1.0   << "10b"       << 2;
    QTest::newRow("binary byte")      << int(HexSpinBox::Binary)         << 1.0   << "11111111b" << 255;
    QTest::newRow("binary bad digit") << int(HexSpinBox::Binary)         << 1.0   << "102"       << 0;
    QTest::newRow("scaled times")     << int(HexSpinBox::ScaledMultiply) << 0.5   << "3.5"       << 7;
    QTest::newRow("scaled rounds")    << int(HexSpinBox::ScaledMultiply) << 2.0   << "5"         << 3;
    QTest::newRow("scaled zero f.")   << int(HexSpinBox::ScaledMultiply) << 0.0   << "5"         << 0;
    QTest::newRow("scaled garbage")   << int(HexSpinBox::ScaledMultiply) << 2.0   << "x"         << 0;
    QTest::newRow("divided")          << int(HexSpinBox::ScaledDivide)   << 100.0 << "4"         << 25;
    QTest::newRow("divided by zero")  << int(HexSpinBox::ScaledDivide)   << 100.0 << "0"         << 0;
    QTest::newRow("unknown mode")     << 7                                << 1.0   << "12"        << 12;
}

void TestWidgets::hexTextToValue()
{
    QFETCH(int, mode);
    QFETCH(double, scale);
    QFETCH(QString, text);
    QFETCH(int, value);
    HexSpinBox box;
    box.setRange(0, 100000);
    box.setScaleFactor(scale);
    box.setDisplayMode(mode);
    QCOMPARE(box.valueFromText(text), value);
}

void TestWidgets::hexValueToText_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    //                                   mode                          scale        value    text
    QTest::newRow("decimal")        << int(HexSpinBox::Decimal)        << 1.0        << 31     << "31";
    QTest::newRow("hex upper")      << int(HexSpinBox::Hexadecimal)    << 1.0        << 31     << "1F";
    QTest::newRow("hex 16 bit")     << int(HexSpinBox::Hexadecimal)    << 1.0        << 0xABCD << "ABCD";
    QTest::newRow("binary")         << int(HexSpinBox::Binary)         << 1.0        << 2      << "10";
    QTest::newRow("binary zero")    << int(HexSpinBox::Binary)         << 1.0        << 0      << "0";
    QTest::newRow("scaled half")    << int(HexSpinBox::ScaledMultiply) << 0.5        << 7      << "3.5";
    QTest::newRow("scaled 6 digit") << int(HexSpinBox::ScaledMultiply) << 1.0 / 3.0  << 1      << "0.333333";
    QTest::newRow("scaled large")   << int(HexSpinBox::ScaledMultiply) << 1000.0     << 65535  << "6.5535e+07";
    QTest::newRow("divided")        << int(HexSpinBox::ScaledDivide)   << 100.0      << 4      << "25";
    QTest::newRow("divided zero")   << int(HexSpinBox::ScaledDivide)   << 100.0      << 0      << "0";
    QTest::newRow("divided 6 dig.") << int(HexSpinBox::ScaledDivide)   << 1000000.0  << 3      << "333333";
}

void TestWidgets::hexValueToText()
{
    QFETCH(int, mode);
    QFETCH(double, scale);
    QFETCH(int, value);
    QFETCH(QString, text);
    HexSpinBox box;
    box.setScaleFactor(scale);
    box.setDisplayMode(mode);
    QCOMPARE(box.textFromValue(value), text);
}

void TestWidgets::hexValidatesPerMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    const int ok = QValidator::Acceptable;
    const int bad = QValidator::Invalid;
    QTest::newRow("hex digits and suffix") << int(HexSpinBox::Hexadecimal) << "1Fh" << ok;
    QTest::newRow("hex lower case")        << int(HexSpinBox::Hexadecimal) << "ff" << ok;
    QTest::newRow("hex non-digit")         << int(HexSpinBox::Hexadecimal) << "1G" << bad;
    QTest::newRow("hex nine digits")       << int(HexSpinBox::Hexadecimal) << "123456789" << bad;
    QTest::newRow("binary ones and zeros") << int(HexSpinBox::Binary) << "1010b" << ok;
    QTest::newRow("binary digit 2")        << int(HexSpinBox::Binary) << "102" << bad;
    QTest::newRow("decimal hex letter")    << int(HexSpinBox::Decimal) << "1F" << bad;
    QTest::newRow("decimal suffix h")      << int(HexSpinBox::Decimal) << "12h" << bad;
    QTest::newRow("scaled fraction")       << int(HexSpinBox::ScaledMultiply) << "0.25" << ok;
    QTest::newRow("scaled letters")        << int(HexSpinBox::ScaledMultiply) << "abc" << bad;
}

void TestWidgets::hexValidatesPerMode()
{
    QFETCH(int, mode);
    QFETCH(QString, text);
    QFETCH(int, state);
    HexSpinBox box;
    box.setDisplayMode(mode);
    int pos = int(text.size());
    QCOMPARE(int(box.validate(text, pos)), state);
}

void TestWidgets::hexShowsSuffixAndAcceptsTyping()
{
    HexSpinBox box;
    box.setRange(0, 65535);
    box.setValue(31);
    QCOMPARE(box.text(), QStringLiteral("1Fh"));
    box.show();
    box.setFocus();
    box.selectAll();
    QTest::keyClicks(&box, QStringLiteral("2A"));
    QTest::keyClick(&box, Qt::Key_Enter);
    QCOMPARE(box.value(), 42);
    QCOMPARE(box.text(), QStringLiteral("2Ah"));
}

void TestWidgets::hexModeSwitchKeepsValueAndAnnounces()
{
    HexSpinBox box;
    box.setRange(0, 255);
    box.setValue(5);
    QSignalSpy changed(&box, &QSpinBox::valueChanged);
    box.setToBinary();
    QCOMPARE(box.value(), 5);
    QCOMPARE(box.text(), QStringLiteral("101b"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 5);
    box.setToDecimal();
    QCOMPARE(box.text(), QStringLiteral("5"));
    QCOMPARE(box.suffix(), QString());
    box.setToHex();
    QCOMPARE(box.text(), QStringLiteral("5h"));
}

void TestWidgets::hexContextMenuSwitchesMode()
{
    HexSpinBox box;
    QCOMPARE(box.contextMenuPolicy(), Qt::ActionsContextMenu);
    const QList<QAction*> actions = box.actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions.at(0)->text(), QStringLiteral("Decimal"));
    QCOMPARE(actions.at(1)->text(), QStringLiteral("Hex"));
    QCOMPARE(actions.at(2)->text(), QStringLiteral("Binary"));
    actions.at(2)->trigger();
    QCOMPARE(box.displayMode(), int(HexSpinBox::Binary));
    actions.at(0)->trigger();
    QCOMPARE(box.displayMode(), int(HexSpinBox::Decimal));
    actions.at(1)->trigger();
    QCOMPARE(box.displayMode(), int(HexSpinBox::Hexadecimal));
}

void TestWidgets::hexReportsIndexWithValue()
{
    HexSpinBox box;
    box.setIndex(3);
    QSignalSpy spy(&box, &HexSpinBox::identValueChanged);
    box.setValue(17);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 3);
    QCOMPARE(spy.at(0).at(1).toInt(), 17);
}

void TestWidgets::hexSelectsAllOnFocus()
{
    QWidget window;
    auto* other = new QLineEdit(&window);
    auto* box = new HexSpinBox(&window);
    box->move(0, 40);
    box->setValue(0xAB);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    other->setFocus();
    QLineEdit* editor = editorOf(box);
    QVERIFY(editor);
    editor->deselect();
    // A mouse click places the cursor: the selection must still cover the value.
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(2, editor->height() / 2));
    QTRY_COMPARE(editor->selectedText(), QStringLiteral("AB"));
}

// -------------------------------------------------------------- OutputSlider

void TestWidgets::sliderValueText_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<bool>("linear");
    QTest::addColumn<QString>("text");
    QTest::newRow("half linear")       << 0.5f    << true  << "(lin)\n50.0%";
    QTest::newRow("half logarithmic")  << 0.5f    << false << "(log)\n3.1%";
    QTest::newRow("full logarithmic")  << 1.0f    << false << "(log)\n100.0%";
    QTest::newRow("below one step")    << 0.0038f << false << "(log)\n0.0%";
    QTest::newRow("one step")          << 0.004f  << false << "(log)\n0.1%";
    QTest::newRow("zero linear")       << 0.0f    << true  << "(lin)\n0.0%";
}

void TestWidgets::sliderValueText()
{
    QFETCH(float, value);
    QFETCH(bool, linear);
    QFETCH(QString, text);
    QCOMPARE(OutputSlider::valueText(value, linear), text);
}

void TestWidgets::sliderGeometryFollowsSizeAndValue()
{
    OutputSlider slider;
    QCOMPARE(slider.minimumSize(), QSize(100, 10));
    QCOMPARE(slider.maximumHeight(), 32);
    slider.resize(200, 30);
    QCOMPARE(slider.frameRect(), QRect(2, 2, 196, 26));
    QCOMPARE(slider.barRect(), QRect(4, 4, 192, 22));
    slider.setValue(0.5f);
    QCOMPARE(slider.fillRect().left(), 4);
    QCOMPARE(slider.fillRect().right(), 4 + 96);

    slider.setOrientation(OutputSlider::Vertical);
    QCOMPARE(slider.minimumSize(), QSize(16, 32));
    QCOMPARE(slider.maximumWidth(), 32);
    slider.resize(30, 200);
    QCOMPARE(slider.barRect(), QRect(4, 4, 22, 192));
    QCOMPARE(slider.fillRect().bottom(), 195);
    QCOMPARE(slider.fillRect().top(), 195 - 96);
}

void TestWidgets::sliderValueFromPosition_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<float>("value");
    // A 200 x 30 horizontal bar spans x 4..195; a 30 x 200 vertical one y 4..195.
    QTest::newRow("left of bar")   << int(OutputSlider::Horizontal) << QPoint(1, 15)   << 0.0f;
    QTest::newRow("bar start")     << int(OutputSlider::Horizontal) << QPoint(4, 15)   << 0.0f;
    QTest::newRow("bar middle")    << int(OutputSlider::Horizontal) << QPoint(100, 15) << 0.5f;
    QTest::newRow("right of bar")  << int(OutputSlider::Horizontal) << QPoint(199, 15) << 1.0f;
    QTest::newRow("below bar")     << int(OutputSlider::Vertical)   << QPoint(15, 198) << 0.0f;
    QTest::newRow("vertical mid")  << int(OutputSlider::Vertical)   << QPoint(15, 100) << 0.5f;
    QTest::newRow("above bar")     << int(OutputSlider::Vertical)   << QPoint(15, 1)   << 1.0f;
}

void TestWidgets::sliderValueFromPosition()
{
    QFETCH(int, orientation);
    QFETCH(QPoint, position);
    QFETCH(float, value);
    OutputSlider slider;
    slider.setOrientation(orientation);
    slider.resize(orientation == OutputSlider::Horizontal ? QSize(200, 30) : QSize(30, 200));
    QCOMPARE(slider.valueAt(position), value);
}

void TestWidgets::sliderDragClampsAndWritesOutput()
{
    OutputSlider slider;
    slider.resize(200, 30);
    IOManager receivers;
    Input* setPoint = receivers.input(QStringLiteral("set point"));
    slider.output()->addInput(setPoint);
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));

    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(50, 15));
    QTest::mouseMove(&slider, QPoint(100, 15));
    QCOMPARE(slider.value(), 0.5f);
    QCOMPARE(setPoint->value(), 0.5);
    QTest::mouseMove(&slider, QPoint(-40, 15));
    QCOMPARE(slider.value(), 0.0f);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(260, 15));
    QCOMPARE(slider.value(), 1.0f);
    QCOMPARE(setPoint->value(), 1.0);

    // Released: moving no longer drags.
    QTest::mouseMove(&slider, QPoint(100, 15));
    QCOMPARE(slider.value(), 1.0f);
}

void TestWidgets::sliderKeysSetTheirOutputs()
{
    OutputSlider slider;
    IOManager receivers;
    const struct {
        Qt::Key key;
        const char* output;
    } keys[] = {{Qt::Key_Left, "KEY_LEFT"}, {Qt::Key_Right, "KEY_RIGHT"}, {Qt::Key_Up, "KEY_UP"},
                {Qt::Key_Down, "KEY_DOWN"}, {Qt::Key_1, "KEY_1"},         {Qt::Key_9, "KEY_9"},
                {Qt::Key_0, "KEY_0"}};
    for (const auto& entry : keys) {
        Input* input = receivers.input(QString::fromLatin1(entry.output));
        auto* output = qobject_cast<Output*>(slider.ioManager()->findIO(QString::fromLatin1(entry.output)));
        QVERIFY2(output, entry.output);
        output->addInput(input);
        QSignalSpy spy(input, &Input::inputValueChanged);
        QTest::keyClick(&slider, entry.key);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(input->value(), 1.0);
    }
    // Other keys reach nobody.
    Input* anyKey = receivers.input(QStringLiteral("other"));
    slider.output()->addInput(anyKey);
    QSignalSpy other(anyKey, &Input::inputValueChanged);
    QTest::keyClick(&slider, Qt::Key_5);
    QCOMPARE(other.size(), 0);
}

void TestWidgets::sliderIgnoresInputWhenNotInteractive()
{
    OutputSlider slider;
    slider.resize(200, 30);
    slider.setValue(0.25f);
    IOManager receivers;
    Input* left = receivers.input(QStringLiteral("left"));
    qobject_cast<Output*>(slider.ioManager()->findIO(QStringLiteral("KEY_LEFT")))->addInput(left);
    slider.setInteractive(false);
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));

    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(150, 15));
    QTest::mouseMove(&slider, QPoint(180, 15));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(180, 15));
    QCOMPARE(slider.value(), 0.25f);
    QSignalSpy spy(left, &Input::inputValueChanged);
    QTest::keyClick(&slider, Qt::Key_Left);
    QCOMPARE(spy.size(), 0);
}

void TestWidgets::sliderMirrorsInputWithoutWritingOutput()
{
    OutputSlider slider;
    IOManager receivers;
    Input* setPoint = receivers.input(QStringLiteral("set point"));
    slider.output()->addInput(setPoint);
    QSignalSpy written(setPoint, &Input::inputValueChanged);

    // The mirrored value may come from another thread.
    QThread other;
    other.start();
    Input* mirror = slider.input();
    QObject worker;
    worker.moveToThread(&other);
    QMetaObject::invokeMethod(&worker, [mirror] { mirror->setValue(0.75); });
    QTRY_COMPARE(slider.value(), 0.75f);
    other.quit();
    QVERIFY(other.wait(5000));
    QCOMPARE(written.size(), 0);
    QCOMPARE(setPoint->value(), 0.0);
}

void TestWidgets::sliderPaintsGreyWhenNotInteractive()
{
    OutputSlider slider;
    slider.resize(200, 30);
    slider.setFromColour(QColor(220, 30, 30));
    slider.setToColour(QColor(220, 30, 30));
    slider.setShowMarkers(true);
    // Sample the right end of the bar: beyond the fill and the centred text.
    const QRect sample(170, 8, 20, 14);

    const QImage coloured = slider.grab().toImage();
    QVERIFY(!coloured.isNull());
    QCOMPARE(coloured.size(), slider.size() * coloured.devicePixelRatio());
    QVERIFY2(greyShare(coloured, sample) < 0.1, "an interactive bar shows its gradient");

    slider.setInteractive(false);
    const QImage grey = slider.grab().toImage();
    QVERIFY2(greyShare(grey, sample) > 0.9, "a bar that is not interactive is grey");
}

void TestWidgets::sliderFollowsChannelDisplayOptions()
{
    ChannelDisplayOptions options;
    options.setOrientation(Qt::Vertical);
    options.setBackgroundFromColour(QColor(20, 200, 20));
    options.setBackgroundToColour(QColor(20, 200, 20));
    OutputSlider slider;
    slider.setDisplayOptions(&options);
    QCOMPARE(slider.orientation(), int(OutputSlider::Vertical));
    slider.resize(30, 200);
    // Sample the top of the bar, beyond the fill (value 0) and the text.
    const QRect sample(8, 8, 14, 20);
    QImage image = slider.grab().toImage();
    QColor c = image.pixelColor(sample.center());
    QVERIFY2(c.green() > c.red() + 60, "the bar shows the options' colours");

    options.setOrientation(Qt::Horizontal);
    options.setBackgroundToColour(QColor(20, 20, 220));
    options.setBackgroundFromColour(QColor(20, 20, 220));
    QCOMPARE(slider.orientation(), int(OutputSlider::Horizontal));
    slider.resize(200, 30);
    image = slider.grab().toImage();
    c = image.pixelColor(QPoint(185, 15));
    QVERIFY2(c.blue() > c.green() + 60, "the bar follows the options' changes");
}

// -------------------------------------------------------- DeviceStatusWidget

void TestWidgets::statusFollowsDeviceState()
{
    IconDevice device;
    DeviceStatusWidget widget;
    widget.setDevice(&device);
    QCOMPARE(widget.text(), QStringLiteral("Disconnected"));
    QCOMPARE(widget.toolTip(), QString());
    auto* label = widget.findChild<QLabel*>();
    QVERIFY(label);
    QVERIFY(!label->pixmap().isNull());
    const QImage disconnected = label->pixmap().toImage();

    device.setConnected();
    QCOMPARE(widget.text(), QStringLiteral("Connected"));
    QCOMPARE(widget.toolTip(), QStringLiteral("<b>Firmware 2.1</b>"));
    QVERIFY(!label->pixmap().isNull());
    QVERIFY(label->pixmap().toImage() != disconnected);

    device.setDisconnected();
    QCOMPARE(widget.text(), QStringLiteral("Disconnected"));
    QCOMPARE(widget.toolTip(), QString());
    QCOMPARE(label->pixmap().toImage(), disconnected);
}

void TestWidgets::statusSetDeviceTwiceConnectsOnce()
{
    IconDevice device;
    DeviceStatusWidget widget;
    widget.setDevice(&device);
    device.setConnected();
    widget.setDevice(&device);
    QCOMPARE(widget.text(), QStringLiteral("Connected"));
    // Exactly one connection: the first disconnect finds it, the second none.
    QVERIFY(QObject::disconnect(&device, &Device::connected, &widget, &DeviceStatusWidget::deviceConnected));
    QVERIFY(!QObject::disconnect(&device, &Device::connected, &widget, &DeviceStatusWidget::deviceConnected));
}

void TestWidgets::statusFollowsDeviceInAnotherThread()
{
    IconDevice device;
    DeviceStatusWidget widget;
    widget.setDevice(&device);
    QThread deviceThread;
    device.moveToThread(&deviceThread);
    deviceThread.start();
    QMetaObject::invokeMethod(&device, [&device] { device.setConnected(); });
    QTRY_COMPARE(widget.text(), QStringLiteral("Connected"));
    QMetaObject::invokeMethod(&device, [&device] {
        device.setDisconnected();
        device.moveToThread(QCoreApplication::instance()->thread());
    });
    QTRY_COMPARE(widget.text(), QStringLiteral("Disconnected"));
    deviceThread.quit();
    QVERIFY(deviceThread.wait(5000));
}

void TestWidgets::statusWithoutDeviceKeepsIcon()
{
    DeviceStatusWidget widget;
    widget.setIcon(QStringLiteral(":/icons/usb/disconnected"));
    auto* label = widget.findChild<QLabel*>();
    const QImage icon = label->pixmap().toImage();
    QVERIFY(!icon.isNull());
    widget.deviceDisconnected();
    QCOMPARE(widget.text(), QStringLiteral("Disconnected"));
    QCOMPARE(label->pixmap().toImage(), icon);
}

// ---------------------------------------------------------------- AppMenuBar

void TestWidgets::menuBarIsOneWithWindowAndHelp()
{
    AppMenuBar* bar = AppMenuBar::instance();
    QVERIFY(bar);
    QCOMPARE(AppMenuBar::instance(), bar);
    QCOMPARE(bar->parent(), nullptr);
    const QList<QAction*> menus = bar->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus.at(0)->text(), QStringLiteral("Window"));
    QCOMPARE(menus.at(1)->text(), QStringLiteral("&Help"));
    QCOMPARE(bar->helpMenu()->actions().size(), 1);
    QCOMPARE(bar->helpMenu()->actions().at(0)->text(), QStringLiteral("&About"));
}

void TestWidgets::menuBarRegisteredWindowShowsOnShortcut()
{
    QWidget mainWindow;
    QWidget logWindow;
    AppMenuBar::instance()->attachTo(&mainWindow);
    QAction* action = AppMenuBar::instance()->registerWindow(&logWindow, QStringLiteral("Log"),
                                                             QKeySequence(Qt::CTRL | Qt::Key_2));
    QCOMPARE(action->text(), QStringLiteral("Log"));
    QCOMPARE(action->shortcutContext(), Qt::ApplicationShortcut);
    QVERIFY(AppMenuBar::instance()->windowMenu()->actions().contains(action));

    mainWindow.show();
    QApplication::setActiveWindow(&mainWindow);
    QVERIFY(QTest::qWaitForWindowActive(&mainWindow));
    QVERIFY(!logWindow.isVisible());
    QTest::keyClick(&mainWindow, Qt::Key_2, Qt::ControlModifier);
    QTRY_VERIFY(logWindow.isVisible());
}

void TestWidgets::iconsAreCompiledIn_data()
{
    QTest::addColumn<QString>("path");
    for (const char* path : {":/icons/usb/connected", ":/icons/usb/disconnected", ":/icons/keymark/connected",
                             ":/icons/keymark/disconnected", ":/general/icons/warning", ":/general/icons/error",
                             ":/general/icons/ok", ":/ui/images/UpButton.png", ":/ui/images/DownButton.png",
                             ":/app/tivaro.svg"})
        QTest::newRow(path) << QString::fromLatin1(path);
}

void TestWidgets::iconsAreCompiledIn()
{
    QFETCH(QString, path);
    const QPixmap normal = loadPixmap(path, 1.0);
    QVERIFY(!normal.isNull());
    // Drawn, not empty.
    const QImage image = normal.toImage();
    bool opaque = false;
    for (int y = 0; y < image.height() && !opaque; ++y)
        for (int x = 0; x < image.width() && !opaque; ++x)
            opaque = qAlpha(image.pixel(x, y)) > 200;
    QVERIFY(opaque);
    // Sharp on a high-DPI screen: rendered with twice the pixels.
    const QPixmap doubled = loadPixmap(path, 2.0);
    QCOMPARE(doubled.deviceIndependentSize(), normal.deviceIndependentSize());
    if (!path.endsWith(QLatin1String(".png")))
        QCOMPARE(doubled.width(), normal.width() * 2);
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
