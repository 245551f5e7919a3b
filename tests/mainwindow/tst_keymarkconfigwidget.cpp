// The Keymark form on a tag of the virtual Portline: which current sources
// it offers (from the driver's Ampwise chips), a dongle that can only
// write, the snapping of the minimum level to DALI levels, currents outside
// the range, and polling only while the form is visible.
#include "general/appsettings.h"
#include "km/keymarkmath.h"
#include "km/keymarknetwork.h"
#include "km/ui/keymarkconfigwidget.h"
#include "sim/simdongle.h"
#include "tests/support/portlinefixture.h"
#include "usb/usbdongle.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace halvorn;

namespace {

constexpr int WaitMs = 5000;

QJsonObject installation(int capabilities, const QJsonArray& ampwise)
{
    const QJsonObject dongle{{QStringLiteral("firmwareVersion"), 5},
                             {QStringLiteral("capabilities"), capabilities},
                             {QStringLiteral("keymark"), QJsonObject{{QStringLiteral("ampwise"), ampwise}}}};
    return QJsonObject{{QStringLiteral("dongles"), QJsonArray{dongle}}};
}

} // namespace

class TestKeymarkConfigWidget : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void sourcesFollowTheAmpwiseChips_data();
    void sourcesFollowTheAmpwiseChips();
    void writeOnlyDongleOffersEverySourceAndNoRead();
    void minimumLevelSnapsToADaliLevel_data();
    void minimumLevelSnapsToADaliLevel();
    void currentsOutsideTheRangeAreNeverWritten();
    void pollsOnlyWhileVisibleAndFollowsTheTag();

private:
    // The form on the tag of a dongle started from `setup`, shown and
    // connected; false when the tag was not found in time.
    bool startForm(const QJsonObject& setup);
    QSpinBox* currentBox(int source) const;
    QPushButton* button(const char* readOrWrite) const;
    int tagCurrent(int source) const;

    std::unique_ptr<PortlineFixture> m_portline;
    std::unique_ptr<KeymarkConfigWidget> m_form;
};

void TestKeymarkConfigWidget::initTestCase()
{
    general::AppSettings settings;
    settings.load();
}

void TestKeymarkConfigWidget::cleanup()
{
    m_form.reset();
    m_portline.reset();
}

bool TestKeymarkConfigWidget::startForm(const QJsonObject& setup)
{
    m_portline = std::make_unique<PortlineFixture>(setup);
    if (!m_portline->start())
        return false;
    auto* network = qobject_cast<km::KeymarkNetwork*>(m_portline->dongle()->keymarkNetwork());
    if (!network)
        return false;
    m_form = std::make_unique<KeymarkConfigWidget>();
    QSignalSpy checked(m_form.get(), &KeymarkConfigWidget::sourcesChecked);
    m_form->setNetwork(network);
    m_form->show();
    return checked.wait(WaitMs) && !m_form->isBusy();
}

QSpinBox* TestKeymarkConfigWidget::currentBox(int source) const
{
    return m_form->findChild<QSpinBox*>(QStringLiteral("currentSource%1SpinBox").arg(source + 1));
}

QPushButton* TestKeymarkConfigWidget::button(const char* readOrWrite) const
{
    return m_form->findChild<QPushButton*>(QLatin1String(readOrWrite) + QLatin1String("ConfigPushButton"));
}

int TestKeymarkConfigWidget::tagCurrent(int source) const
{
    auto guard = m_portline->simDongle()->lock();
    return m_portline->simDongle()->keymarkPort().tag().current(source);
}

void TestKeymarkConfigWidget::sourcesFollowTheAmpwiseChips_data()
{
    QTest::addColumn<QJsonArray>("ampwise");
    QTest::addColumn<QList<bool>>("available");
    //                                                    chip status words                  sources 1..4
    QTest::newRow("one chip, second source missing")  << QJsonArray{"0x0040"}           << QList<bool>{true, false, false, false};
    QTest::newRow("one chip, both sources")           << QJsonArray{"0x0000"}           << QList<bool>{true, true, false, false};
    QTest::newRow("two chips, first and last missing") << QJsonArray{"0x4000", "0x0040"} << QList<bool>{false, true, true, false};
    QTest::newRow("no chips reported")                << QJsonArray{}                   << QList<bool>{true, true, true, true};
}

void TestKeymarkConfigWidget::sourcesFollowTheAmpwiseChips()
{
    QFETCH(QJsonArray, ampwise);
    QFETCH(QList<bool>, available);
    QVERIFY(startForm(installation(0x007F, ampwise)));
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(m_form->isSourceAvailable(k), available[k]);
        QCOMPARE(currentBox(k)->isEnabled(), available[k]);
        const QString n = QString::number(k + 1);
        QCOMPARE(m_form->findChild<QToolButton*>(QStringLiteral("currentSource%1UpToolButton").arg(n))->isEnabled(),
                 available[k]);
    }
    QVERIFY(button("read")->isEnabled());
    QVERIFY(button("write")->isEnabled());
}

void TestKeymarkConfigWidget::writeOnlyDongleOffersEverySourceAndNoRead()
{
    // Keymark supported (bit 5), reading not (bit 6): the chips cannot be asked.
    QVERIFY(startForm(installation(0x003F, QJsonArray{"0x0040"})));
    for (int k = 0; k < 4; ++k)
        QVERIFY(m_form->isSourceAvailable(k) && currentBox(k)->isEnabled());
    QVERIFY(!button("read")->isEnabled());
    QVERIFY(button("write")->isEnabled());

    // A current still reaches the tag; each group of accesses is opened first.
    currentBox(2)->setValue(777);
    QTRY_COMPARE_WITH_TIMEOUT(tagCurrent(2), 777, WaitMs);
    auto guard = m_portline->simDongle()->lock();
    QVERIFY(m_portline->simDongle()->keymarkPort().tag().controlWriteCount(28) >= 1);
}

void TestKeymarkConfigWidget::minimumLevelSnapsToADaliLevel_data()
{
    QTest::addColumn<int>("curve");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("shown");
    // The percentage of the DALI level the typed value becomes, to 0.1 %.
    const auto snapped = [](double percent, int curve) {
        return std::round(km::DALIToPerc(km::PercToDALI(percent, curve), curve) * 10.0) / 10.0;
    };
    QTest::newRow("33.3 % linear")               << 0 << "33.3" << snapped(33.3, 0);
    QTest::newRow("1 % logarithmic is level 85") << 1 << "1"    << 1.0;
    QTest::newRow("0.1 % linear is level 1")     << 0 << "0.1"  << 0.1;
    QTest::newRow("100 % logarithmic")           << 1 << "100"  << 100.0;
}

void TestKeymarkConfigWidget::minimumLevelSnapsToADaliLevel()
{
    QFETCH(int, curve);
    QFETCH(QString, typed);
    QFETCH(double, shown);
    QVERIFY(startForm(installation(0x007F, QJsonArray{"0x0000", "0x0000"})));
    auto* box = m_form->findChild<QDoubleSpinBox*>(QStringLiteral("minLevelDoubleSpinBox"));
    auto* curves = m_form->findChild<QComboBox*>(QStringLiteral("dimmingCurveComboBox"));
    curves->setCurrentIndex(curve);

    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, typed);
    QTest::keyClick(box, Qt::Key_Return); // editingFinished
    QCOMPARE(box->value(), shown);

    // Choosing a curve snaps the shown value to that curve's levels.
    const double before = box->value();
    QTest::keyClick(curves, curve == 0 ? Qt::Key_Down : Qt::Key_Up); // activated(other curve)
    const int other = 1 - curve;
    QCOMPARE(curves->currentIndex(), other);
    QCOMPARE(box->value(), std::round(km::DALIToPerc(km::PercToDALI(before, other), other) * 10.0) / 10.0);
}

void TestKeymarkConfigWidget::currentsOutsideTheRangeAreNeverWritten()
{
    QVERIFY(startForm(installation(0x007F, QJsonArray{"0x0000", "0x0000"})));
    QCOMPARE(tagCurrent(0), 350);
    for (int value : {150, 199, 1051, 0xFFFF, -1})
        m_form->setCurrent(0, value);
    m_form->setCurrent(7, 500); // no such source
    m_form->setCurrent(0, 1050);
    // Jobs run in order: once the last is done, the earlier ones are too.
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->isBusy(), WaitMs);
    QCOMPARE(tagCurrent(0), 1050);
    m_form->setCurrent(0, 200);
    QTRY_COMPARE_WITH_TIMEOUT(tagCurrent(0), 200, WaitMs);
    // The up and down buttons step the spin box, which writes.
    QTest::mouseClick(m_form->findChild<QToolButton*>(QStringLiteral("currentSource1UpToolButton")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(tagCurrent(0), 351, WaitMs);
}

void TestKeymarkConfigWidget::pollsOnlyWhileVisibleAndFollowsTheTag()
{
    QVERIFY(startForm(installation(0x007F, QJsonArray{"0x0000", "0x0000"})));
    auto* network = m_form->network();
    QSignalSpy gone(network, &km::KeymarkNetwork::OnKeymarkDisconnect);
    m_form->hide();
    {
        auto guard = m_portline->simDongle()->lock();
        m_portline->simDongle()->keymarkPort().setTagPresent(false);
    }
    // Longer than the poll interval: a poll timer still running would have
    // noticed the tag is gone.
    QTest::qWait(km::KeymarkNetwork::PollIntervalMs + 300);
    QCOMPARE(gone.count(), 0);
    QVERIFY(network->isTagConnected());

    // Shown again, it polls at once; without a tag there is nothing to edit.
    m_form->show();
    QTRY_VERIFY_WITH_TIMEOUT(gone.count() > 0, WaitMs);
    QVERIFY(!network->isTagConnected());
    QTRY_VERIFY_WITH_TIMEOUT(!currentBox(0)->isEnabled(), WaitMs);
    QVERIFY(!button("write")->isEnabled());
    QVERIFY(!button("read")->isEnabled());
}

QTEST_MAIN(TestKeymarkConfigWidget)
#include "tst_keymarkconfigwidget.moc"
