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
    void hexTextAndValue_data();
    void hexTextAndValue();
    void hexTypingAndModeSwitches();
    void hexSelectsAllOnFocus();

    void sliderValueText_data();
    void sliderValueText();
    void sliderValueFromPosition_data();
    void sliderValueFromPosition();
    void sliderDragWritesOutputMirrorDoesNot();
    void sliderKeysSetTheirOutputs();
    void sliderColoursFollowOptionsGreyWhenNotInteractive();

    void statusFollowsDeviceInAnotherThread();

    void menuBarShowsRegisteredWindowOnShortcut();
    void iconsAreCompiledIn_data();
    void iconsAreCompiledIn();
};

void TestWidgets::hexTextAndValue_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("value");     // valueFromText(typed); -1: not checked
    QTest::addColumn<QString>("shown"); // textFromValue(value); empty: not checked
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("state");     // validate(typed); -1: nothing typed
    const int dec = HexSpinBox::Decimal, hex = HexSpinBox::Hexadecimal, bin = HexSpinBox::Binary;
    const int times = HexSpinBox::ScaledMultiply, divided = HexSpinBox::ScaledDivide;
    const int ok = QValidator::Acceptable, mid = QValidator::Intermediate, bad = QValidator::Invalid;
    //                                      mode     scale        value    shown          typed         state
    QTest::newRow("decimal")          << dec     << 1.0       << 42     << "42"         << "42"        << ok;
    QTest::newRow("decimal garbage")  << dec     << 1.0       << 0      << ""           << "4x"        << bad;
    QTest::newRow("decimal suffix h") << dec     << 1.0       << -1     << ""           << "12h"       << bad;
    QTest::newRow("hex with suffix")  << hex     << 1.0       << 31     << "1F"         << "1Fh"       << ok;
    QTest::newRow("hex lower case")   << hex     << 1.0       << 255    << "FF"         << "ff"        << ok;
    QTest::newRow("hex 16 bit")       << hex     << 1.0       << 0xABCD << "ABCD"       << "ABCD"      << ok;
    QTest::newRow("hex only suffix")  << hex     << 1.0       << 0      << ""           << "h"         << mid;
    QTest::newRow("hex non-digit")    << hex     << 1.0       << -1     << ""           << "1G"        << bad;
    QTest::newRow("hex nine digits")  << hex     << 1.0       << -1     << ""           << "123456789" << bad;
    QTest::newRow("binary suffix")    << bin     << 1.0       << 2      << "10"         << "10b"       << ok;
    QTest::newRow("binary zero")      << bin     << 1.0       << 0      << "0"          << "0"         << ok;
    QTest::newRow("binary bad digit") << bin     << 1.0       << 0      << ""           << "102"       << bad;
    QTest::newRow("scaled half")      << times   << 0.5       << 7      << "3.5"        << "3.5"       << ok;
    QTest::newRow("scaled rounds")    << times   << 2.0       << 3      << "6"          << "5"         << ok;
    QTest::newRow("scaled 6 digits")  << times   << 1.0 / 3.0 << 1      << "0.333333"   << ""          << -1;
    QTest::newRow("scaled large")     << times   << 1000.0    << 65535  << "6.5535e+07" << ""          << -1;
    QTest::newRow("scaled zero f.")   << times   << 0.0       << 0      << ""           << "5"         << ok;
    QTest::newRow("scaled garbage")   << times   << 2.0       << 0      << ""           << "x"         << bad;
    QTest::newRow("divided")          << divided << 100.0     << 25     << "4"          << "4"         << ok;
    QTest::newRow("divided zero")     << divided << 100.0     << 0      << "0"          << "0"         << ok;
    QTest::newRow("divided 6 digits") << divided << 1000000.0 << 3      << "333333"     << ""          << -1;
    QTest::newRow("unknown mode")     << 7       << 1.0       << 12     << ""           << "12"        << ok;
}

void TestWidgets::hexTextAndValue()
{
    QFETCH(int, mode);
    QFETCH(double, scale);
    QFETCH(int, value);
    QFETCH(QString, shown);
    QFETCH(QString, typed);
    QFETCH(int, state);
    HexSpinBox box;
    box.setRange(0, 100000);
    box.setScaleFactor(scale);
    box.setDisplayMode(mode);
    if (!shown.isEmpty())
        QCOMPARE(box.textFromValue(value), shown);
    if (typed.isEmpty())
        return;
    if (value >= 0)
        QCOMPARE(box.valueFromText(typed), value);
    int position = int(typed.size());
    QCOMPARE(int(box.validate(typed, position)), state);
}

void TestWidgets::hexTypingAndModeSwitches()
{
    HexSpinBox box;
    box.setRange(0, 65535);
    box.setIndex(3);
    QSignalSpy ident(&box, &HexSpinBox::identValueChanged);
    box.show();
    box.setFocus();
    box.selectAll();
    QTest::keyClicks(&box, QStringLiteral("2A"));
    QTest::keyClick(&box, Qt::Key_Enter);
    QCOMPARE(box.value(), 42);
    QCOMPARE(box.text(), QStringLiteral("2Ah"));
    QCOMPARE(ident.last(), (QVariantList{3, 42}));

    // The context menu switches the mode; the value stays and is announced.
    const QStringList shown{"42", "2Ah", "101010b"};
    QSignalSpy changed(&box, &QSpinBox::valueChanged);
    for (int mode : {int(HexSpinBox::Binary), int(HexSpinBox::Decimal), int(HexSpinBox::Hexadecimal)}) {
        box.actions().at(mode)->trigger();
        QCOMPARE(box.displayMode(), mode);
        QCOMPARE(box.text(), shown.at(mode));
        QCOMPARE(box.value(), 42);
    }
    QCOMPARE(changed.size(), 3);
    QCOMPARE(changed.last().at(0).toInt(), 42);
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
    QLineEdit* editor = box->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->deselect();
    // A mouse click places the cursor: the selection must still cover the value.
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(2, editor->height() / 2));
    QTRY_COMPARE(editor->selectedText(), QStringLiteral("AB"));
}

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

void TestWidgets::sliderValueFromPosition_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("fillEnd"); // where the fill of that value ends; -1: not checked
    // A 200 x 30 horizontal bar spans x 4..195; a 30 x 200 vertical one y 4..195.
    const int across = OutputSlider::Horizontal, up = OutputSlider::Vertical;
    QTest::newRow("left of bar")  << across << QPoint(1, 15)   << 0.0f << -1;
    QTest::newRow("bar start")    << across << QPoint(4, 15)   << 0.0f << -1;
    QTest::newRow("bar middle")   << across << QPoint(100, 15) << 0.5f << 4 + 96;
    QTest::newRow("right of bar") << across << QPoint(199, 15) << 1.0f << -1;
    QTest::newRow("below bar")    << up     << QPoint(15, 198) << 0.0f << -1;
    QTest::newRow("vertical mid") << up     << QPoint(15, 100) << 0.5f << 195 - 96;
    QTest::newRow("above bar")    << up     << QPoint(15, 1)   << 1.0f << -1;
}

void TestWidgets::sliderValueFromPosition()
{
    QFETCH(int, orientation);
    QFETCH(QPoint, position);
    QFETCH(float, value);
    QFETCH(int, fillEnd);
    OutputSlider slider;
    slider.setOrientation(orientation);
    const bool across = orientation == OutputSlider::Horizontal;
    slider.resize(across ? QSize(200, 30) : QSize(30, 200));
    QCOMPARE(slider.valueAt(position), value);
    slider.setValue(value);
    if (fillEnd >= 0)
        QCOMPARE(across ? slider.fillRect().right() : slider.fillRect().top(), fillEnd);
}

void TestWidgets::sliderDragWritesOutputMirrorDoesNot()
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

    // A mirrored value, from another thread, moves the bar without writing.
    QSignalSpy written(setPoint, &Input::inputValueChanged);
    QThread other;
    other.start();
    QObject worker;
    worker.moveToThread(&other);
    QMetaObject::invokeMethod(&worker, [mirror = slider.input()] { mirror->setValue(0.75); });
    QTRY_COMPARE(slider.value(), 0.75f);
    other.quit();
    QVERIFY(other.wait(5000));
    QCOMPARE(written.size(), 0);
    QCOMPARE(setPoint->value(), 1.0);
}

void TestWidgets::sliderKeysSetTheirOutputs()
{
    OutputSlider slider;
    IOManager receivers;
    const std::pair<Qt::Key, const char*> keys[] = {{Qt::Key_Left, "KEY_LEFT"}, {Qt::Key_Right, "KEY_RIGHT"},
        {Qt::Key_Up, "KEY_UP"}, {Qt::Key_Down, "KEY_DOWN"}, {Qt::Key_1, "KEY_1"}, {Qt::Key_9, "KEY_9"},
        {Qt::Key_0, "KEY_0"}};
    for (const auto& [key, name] : keys) {
        Input* input = receivers.input(QString::fromLatin1(name));
        auto* output = qobject_cast<Output*>(slider.ioManager()->findIO(QString::fromLatin1(name)));
        QVERIFY2(output, name);
        output->addInput(input);
        QTest::keyClick(&slider, key);
        QCOMPARE(input->value(), 1.0);
    }
    // Other keys reach nobody.
    Input* anyKey = receivers.input(QStringLiteral("other"));
    slider.output()->addInput(anyKey);
    QSignalSpy other(anyKey, &Input::inputValueChanged);
    QTest::keyClick(&slider, Qt::Key_5);
    QCOMPARE(other.size(), 0);
}

void TestWidgets::sliderColoursFollowOptionsGreyWhenNotInteractive()
{
    ChannelDisplayOptions options;
    options.setOrientation(Qt::Vertical);
    options.setBackgroundFromColour(QColor(20, 200, 20));
    options.setBackgroundToColour(QColor(20, 200, 20));
    OutputSlider slider;
    slider.setDisplayOptions(&options);
    QCOMPARE(slider.orientation(), int(OutputSlider::Vertical));
    slider.resize(30, 200);
    // The top of the bar, beyond the fill (value 0) and the text.
    QColor c = slider.grab().toImage().pixelColor(15, 18);
    QVERIFY2(c.green() > c.red() + 60, "the bar shows the options' colours");

    options.setOrientation(Qt::Horizontal);
    options.setBackgroundToColour(QColor(220, 30, 30));
    options.setBackgroundFromColour(QColor(220, 30, 30));
    QCOMPARE(slider.orientation(), int(OutputSlider::Horizontal));
    slider.resize(200, 30);
    slider.setValue(0.25f);
    slider.setShowMarkers(true);
    // The right end of the bar: beyond the fill and the centred text.
    const QRect sample(170, 8, 20, 14);
    const QImage coloured = slider.grab().toImage();
    QCOMPARE(coloured.size(), slider.size() * coloured.devicePixelRatio());
    c = coloured.pixelColor(sample.center());
    QVERIFY2(c.red() > c.green() + 60, "the bar follows the options' changes");
    QVERIFY2(greyShare(coloured, sample) < 0.1, "an interactive bar shows its gradient");

    // Not interactive: grey, and deaf to mouse and keys.
    IOManager receivers;
    Input* left = receivers.input(QStringLiteral("left"));
    qobject_cast<Output*>(slider.ioManager()->findIO(QStringLiteral("KEY_LEFT")))->addInput(left);
    slider.setInteractive(false);
    QVERIFY2(greyShare(slider.grab().toImage(), sample) > 0.9, "a bar that is not interactive is grey");
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(150, 15));
    QTest::mouseMove(&slider, QPoint(180, 15));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(180, 15));
    QCOMPARE(slider.value(), 0.25f);
    QTest::keyClick(&slider, Qt::Key_Left);
    QCOMPARE(left->value(), 0.0);
}

void TestWidgets::statusFollowsDeviceInAnotherThread()
{
    IconDevice device;
    DeviceStatusWidget widget;
    widget.setDevice(&device);
    widget.setDevice(&device); // still connected once (checked at the end)
    auto* label = widget.findChild<QLabel*>();
    QCOMPARE(widget.text(), QStringLiteral("Disconnected"));
    const QImage disconnected = label->pixmap().toImage();
    QVERIFY(!disconnected.isNull());

    QThread deviceThread;
    device.moveToThread(&deviceThread);
    deviceThread.start();
    QMetaObject::invokeMethod(&device, [&device] { device.setConnected(); });
    QTRY_COMPARE(widget.text(), QStringLiteral("Connected"));
    QCOMPARE(widget.toolTip(), QStringLiteral("<b>Firmware 2.1</b>"));
    QVERIFY(!label->pixmap().isNull());
    QVERIFY(label->pixmap().toImage() != disconnected);

    QMetaObject::invokeMethod(&device, [&device] {
        device.setDisconnected();
        device.moveToThread(QCoreApplication::instance()->thread());
    });
    QTRY_COMPARE(widget.text(), QStringLiteral("Disconnected"));
    QCOMPARE(widget.toolTip(), QString());
    QCOMPARE(label->pixmap().toImage(), disconnected);
    deviceThread.quit();
    QVERIFY(deviceThread.wait(5000));
    QVERIFY(QObject::disconnect(&device, &Device::connected, &widget, &DeviceStatusWidget::deviceConnected));
    QVERIFY(!QObject::disconnect(&device, &Device::connected, &widget, &DeviceStatusWidget::deviceConnected));
}

void TestWidgets::menuBarShowsRegisteredWindowOnShortcut()
{
    AppMenuBar* bar = AppMenuBar::instance();
    QWidget mainWindow;
    QWidget logWindow;
    bar->attachTo(&mainWindow);
    QAction* action = bar->registerWindow(&logWindow, QStringLiteral("Log"), QKeySequence(Qt::CTRL | Qt::Key_2));
    QCOMPARE(action->shortcutContext(), Qt::ApplicationShortcut); // from every window
    QVERIFY(bar->windowMenu()->actions().contains(action));
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
    const QImage image = normal.toImage();
    bool opaque = false; // drawn, not empty
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            opaque = opaque || qAlpha(image.pixel(x, y)) > 200;
    QVERIFY(opaque);
    // Sharp on a high-DPI screen: rendered with twice the pixels.
    const QPixmap doubled = loadPixmap(path, 2.0);
    QCOMPARE(doubled.deviceIndependentSize(), normal.deviceIndependentSize());
    if (!path.endsWith(QLatin1String(".png")))
        QCOMPARE(doubled.width(), normal.width() * 2);
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
