// The parameters of device 0 of a Keymark network end to end, as the
// configuration form uses them: the four output currents through the
// mailbox, dimming curve and minimum level through the DALI pass-through,
// the NTC temperature in the tag, and the Ampwise chips — read and written
// through the Parameter objects against the simulated tag and its driver.

#include "km/keymarkmath.h"
#include "tests/km/keymarkrig.h"

#include <QtTest>

using namespace halvorn;
using km::KeymarkParameter::AmpwiseCount;
using km::KeymarkParameter::DimmingCurve;
using km::KeymarkParameter::MinLevel;
using km::KeymarkParameter::NtcTemperature;
using sim::SimKeymarkPort;
using sim::SimTagConfig;

namespace {

SimTagConfig driverOnBench()
{
    SimTagConfig config;
    config.currents = {700, 350, 500, 1050};
    config.dimmingCurve = 1;
    config.minLevel = 30;
    config.ntcTemperature = 85;
    config.ampwiseStatus = {0x4000, 0x0040};
    return config;
}

const QList<uint> settings = {km::currentSourceParameter(0), km::currentSourceParameter(1), km::currentSourceParameter(2),
                              km::currentSourceParameter(3), DimmingCurve, MinLevel, NtcTemperature};

// What the simulated tag or its driver holds for one of the settings now.
int held(KeymarkRig& rig, uint number)
{
    int value = -1;
    rig.withPort([&](SimKeymarkPort& port) {
        const QList<int> now = {port.tag().current(0), port.tag().current(1), port.tag().current(2), port.tag().current(3),
                                port.tag().driver().dimmingCurve(), port.tag().driver().minLevel(), port.tag().memoryByte(0x30)};
        value = now.value(settings.indexOf(number), -1);
    });
    return value;
}

} // namespace

class TestKeymarkParameters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settingsReadAndWrite_data();
    void settingsReadAndWrite();
    void ampwiseChips_data();
    void ampwiseChips();
};

void TestKeymarkParameters::settingsReadAndWrite_data()
{
    QTest::addColumn<quint16>("capabilities");
    QTest::addColumn<uint>("number");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    const quint16 all = KeymarkRig::AllCapabilities;
    QTest::newRow("current 1")            << all << km::currentSourceParameter(0) << 700  << 1049;
    QTest::newRow("current 2")            << all << km::currentSourceParameter(1) << 350  << 201;
    QTest::newRow("current 3")            << all << km::currentSourceParameter(2) << 500  << 0x0123;
    QTest::newRow("current 4")            << all << km::currentSourceParameter(3) << 1050 << 0x0302;
    QTest::newRow("curve to logarithmic") << all << DimmingCurve                  << 1    << 0;
    QTest::newRow("minimum level 85")     << all << MinLevel                      << 30   << 85;
    QTest::newRow("NTC temperature 90")   << all << NtcTemperature                << 85   << 90;
    // A dongle that cannot read the tag writes it all the same.
    QTest::newRow("write-only current 3") << KeymarkRig::WriteOnly << km::currentSourceParameter(2) << 500 << 900;
    QTest::newRow("write-only NTC")       << KeymarkRig::WriteOnly << NtcTemperature                << 85  << 60;
    QTest::newRow("write-only curve")     << KeymarkRig::WriteOnly << DimmingCurve                  << 1   << 0;
}

void TestKeymarkParameters::settingsReadAndWrite()
{
    QFETCH(quint16, capabilities);
    QFETCH(uint, number);
    QFETCH(int, before);
    QFETCH(int, after);
    const bool readable = capabilities != KeymarkRig::WriteOnly;
    KeymarkRig rig(capabilities);
    rig.withPort([](SimKeymarkPort& port) { port.insertTag(driverOnBench()); });
    QVERIFY(rig.start());
    QList<int> others;
    for (uint other : settings)
        others << held(rig, other);
    int value = -1;
    QCOMPARE(rig.read(number, value), readable);
    QVERIFY(!readable || value == before);

    QVERIFY(rig.write(number, after));
    others[settings.indexOf(number)] = after;
    for (int i = 0; i < settings.size(); ++i)
        QCOMPARE(held(rig, settings[i]), others[i]);
    QCOMPARE(rig.read(number, value), readable);
    QVERIFY(!readable || value == after);
}

void TestKeymarkParameters::ampwiseChips_data()
{
    QTest::addColumn<QList<uint16_t>>("status");
    QTest::newRow("one chip, source 2 missing") << QList<uint16_t>{0x0040};
    QTest::newRow("two chips")                  << QList<uint16_t>{0x4000, 0x0040};
    QTest::newRow("four chips")                 << QList<uint16_t>{0x0001, 0x4040, 0xBEEF, 0x8000};
    QTest::newRow("none")                       << QList<uint16_t>{};
}

void TestKeymarkParameters::ampwiseChips()
{
    QFETCH(QList<uint16_t>, status);
    KeymarkRig rig;
    SimTagConfig config;
    config.ampwiseStatus = status;
    rig.withPort([&](SimKeymarkPort& port) { port.insertTag(config); });
    QVERIFY(rig.start());
    int count = -1;
    QVERIFY(rig.read(AmpwiseCount, count));
    QCOMPARE(count, int(status.size()));
    for (int i = 0; i < count; ++i) {
        const uint number = km::ampwiseStatusParameter(i);
        int word = -1;
        if (rig.device()->findParameter(number)) {
            QVERIFY(rig.read(number, word));
        } else {
            // The shipped definitions name the first two chips only; the network reads any number of the map.
            bool ok = false;
            word = int(rig.network()->readParameter(0xFE, number, false, ok));
            QVERIFY(ok);
        }
        QCOMPARE(word, int(status.at(i)));
    }
}

QTEST_GUILESS_MAIN(TestKeymarkParameters)
#include "tst_keymarkparameters.moc"
