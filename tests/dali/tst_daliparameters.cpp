// The DALI parameter number map on the virtual Portline: what each number
// reads and writes, the frames it takes, and the simple log lines.

#include "dali/dalidevice.h"
#include "dali/dalinetwork.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "sim/simdongle.h"
#include "tests/dali/dalitestbus.h"

#include <QTest>

using namespace halvorn;
using namespace halvorn::dali;

namespace {

constexpr uint8_t Gear5 = 0x0A; // arc-power address byte of short address 5
constexpr uint8_t Gear5Command = 0x0B;

struct ParameterBus : DaliTestBus
{
    ParameterBus()
    {
        withBus([](sim::SimDaliBus& dali) {
            sim::SimDaliGearConfig config;
            config.shortAddress = 5;
            config.fixedRandomAddress = 0x345678;
            config.randomAddress = 0x345678;
            config.makerParameters = {{0x0005, 0x1234}, {0x0100, 0x0203}, {0x0007, 0x0042}};
            config.makerValues = {{0x0009, 0xABCD}};
            config.bridgeRegisters = {{1, 77}, {18, 90}};
            dali.addGear(config);
        });
        clearFrames();
    }
    // A copy of the gear's state, taken under the dongle's lock.
    sim::SimDaliGear gear()
    {
        std::optional<sim::SimDaliGear> copy;
        withBus([&](sim::SimDaliBus& dali) { copy.emplace(dali.gear(0)); });
        return *copy;
    }
    // The value read, or "failed".
    QString read(uint number, bool eightBit = true, uint8_t address = Gear5)
    {
        bool ok = false;
        const uint value = network()->readParameter(address, number, eightBit, ok);
        return ok ? QString::number(value) : QStringLiteral("failed");
    }
    bool write(uint number, uint value, bool eightBit = true, uint8_t address = Gear5)
    {
        return network()->writeParameter(address, number, eightBit, value);
    }
    QStringList simpleLines()
    {
        QTest::qWait(20);
        return texts(network()->simpleLog());
    }
};

} // namespace

class TestDaliParameters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fadeNibbles()
    {
        ParameterBus bus;
        QVERIFY(bus.write(6, 3)); // fade time
        QVERIFY(bus.write(5, 7)); // fade rate
        QCOMPARE(bus.gear().fadeTime(), 3);
        QCOMPARE(bus.read(5), QStringLiteral("7")); // QUERY FADE answers 0x37
        QCOMPARE(bus.read(6), QStringLiteral("3"));
        const QStringList lines = bus.simpleLines();
        QVERIFY(lines.contains("SET STORE THE DTR AS FADE TIME: 3 (3)"));
        QVERIFY(lines.contains("GET QUERY FADE (RATE): 7 (7)"));
        QVERIFY(lines.contains("GET QUERY FADE (TIME): 3 (3)"));
    }

    void storesSendDtrThenCommandTwice_data()
    {
        QTest::addColumn<uint>("number");
        QTest::addColumn<uint>("value");
        QTest::addColumn<int>("store");
        QTest::newRow("power on level") << 0x01u << 100u << 0x2D;
        QTest::newRow("max level") << 0x04u << 200u << 0x2A;
        QTest::newRow("scene 3") << 0x0Du << 200u << 0x43;
        QTest::newRow("scene 15") << 0x19u << 12u << 0x4F;
    }

    void storesSendDtrThenCommandTwice()
    {
        QFETCH(uint, number);
        QFETCH(uint, value);
        QFETCH(int, store);
        ParameterBus bus;
        QVERIFY(bus.write(number, value));
        QCOMPARE(bus.frames(),
                 QList<quint16>({frame(0xA3, int(value)), frame(Gear5Command, store), frame(Gear5Command, store)}));
        QCOMPARE(bus.read(number), QString::number(value));
    }

    void groupWriteAddsAndRemovesEachGroup()
    {
        ParameterBus bus;
        QVERIFY(bus.write(0x08, 0x05));
        QList<quint16> expected;
        for (int group = 0; group < 8; ++group) {
            const int command = (0x05 >> group) & 1 ? 0x60 + group : 0x70 + group;
            expected << frame(Gear5Command, command) << frame(Gear5Command, command);
        }
        QCOMPARE(bus.frames(), expected);
        QCOMPARE(bus.gear().groups(), 0x0005);
        QVERIFY(bus.write(0x09, 0x80));
        QCOMPARE(bus.gear().groups(), 0x8005);
        QCOMPARE(bus.read(0x09), QStringLiteral("128"));
        QVERIFY(bus.simpleLines().contains("SET ADD TO GROUP 15: 128 (80)"));
    }

    void shortAddressReadUsesTheRandomAddress()
    {
        ParameterBus bus;
        QCOMPARE(bus.read(0x07), QStringLiteral("5"));
        QCOMPARE(bus.frames(), QList<quint16>({frame(0xA5, 0), frame(0xA5, 0), frame(Gear5Command, 0xC2),
                                               frame(0xB1, 0x34), frame(Gear5Command, 0xC3), frame(0xB3, 0x56),
                                               frame(Gear5Command, 0xC4), frame(0xB5, 0x78), frame(0xBB, 0)}));
        QVERIFY(bus.simpleLines().contains("GET QUERY_SHORT_ADDRESS: 5 (5)"));

        // Written as it is read: the gear gets 2n + 1.
        QVERIFY(bus.write(0x07, 9));
        QCOMPARE(bus.gear().shortAddress(), 9);
        QVERIFY(!bus.write(0x07, 64, true, 0x12));
        QCOMPARE(bus.read(0x07, true, 0x12), QStringLiteral("9"));

        // Gear without a short address, reached through the broadcast device.
        bus.write(0x07, 0xFF, true, 0x12);
        QVERIFY(!bus.gear().hasShortAddress());
        QCOMPARE(bus.read(0x07, true, 0xFE), QStringLiteral("255"));
    }

    void readOnlyAndUnmappedNumbersSendNothing_data()
    {
        QTest::addColumn<uint>("number");
        QTest::addColumn<bool>("unmapped");
        QTest::newRow("status") << 0x1Au << false;
        QTest::newRow("memory bank 0") << 0x205u << false;
        QTest::newRow("maker value") << 0x4009u << false;
        QTest::newRow("unmapped 0x29") << 0x29u << true;
        QTest::newRow("beyond the map") << 0x5000u << true;
    }

    void readOnlyAndUnmappedNumbersSendNothing()
    {
        QFETCH(uint, number);
        QFETCH(bool, unmapped);
        ParameterBus bus;
        QVERIFY(!bus.write(number, 1));
        if (unmapped)
            QCOMPARE(bus.read(number), QStringLiteral("failed"));
        QVERIFY(bus.frames().isEmpty());
    }

    void ledVariablesEnableDeviceTypeFirst()
    {
        ParameterBus bus;
        QCOMPARE(bus.read(0x20), QStringLiteral("4")); // QUERY MIN FAST FADE TIME
        QCOMPARE(bus.frames(), QList<quint16>({frame(0xC1, 6), frame(Gear5Command, 0xFE)}));
        bus.clearFrames();
        QVERIFY(bus.write(0x21, 12));
        QCOMPARE(bus.frames(), QList<quint16>({frame(0xA3, 12), frame(0xC1, 6), frame(Gear5Command, 0xE4),
                                               frame(Gear5Command, 0xE4)}));
        QCOMPARE(bus.gear().fastFadeTime(), 12);
        QVERIFY(bus.write(0x27, 1));
        QCOMPARE(bus.read(0x27), QStringLiteral("1"));
        QVERIFY(bus.simpleLines().contains("GET QUERY DIMMING CURVE: 1 (1)"));
    }

    void memoryBankBytes()
    {
        ParameterBus bus;
        QCOMPARE(bus.read(0x200), QStringLiteral("26"));
        QVERIFY(bus.write(0x230, 0x5A));
        QCOMPARE(bus.gear().memory(1, 0x10), 0x5A);
        QCOMPARE(bus.read(0x230), QStringLiteral("90"));
        QVERIFY(bus.write(0x1020, 0x1234, false));
        QCOMPARE(bus.read(0x1020, false), QString::number(0x1234));
        const QStringList lines = bus.simpleLines();
        QVERIFY(lines.contains("GET Memory bank 0 byte 0: 26 (1A)"));
        QVERIFY(lines.contains("SET VelaLogic 16 Network input channel count: 90 (5A)"));
        QVERIFY(lines.contains("GET VelaLogic 32 General 16 bit debug data buffer high byte: 4660 (1234)"));
    }

    void makerParametersThroughTheMailbox()
    {
        ParameterBus bus;
        QCOMPARE(bus.read(0x2005, false), QString::number(0x1234));
        // Parameter 5 to 0x70, the request 0x41 to 0x74, then 0x72 read back.
        const QList<quint16> frames = bus.frames();
        QCOMPARE(frames.mid(0, 7), QList<quint16>({frame(0xC3, 1), frame(0xA3, 0x70), frame(Gear5Command, 0x81),
                                                   frame(Gear5Command, 0x81), frame(0xC7, 0x00), frame(0xC7, 0x05),
                                                   frame(0xC3, 1)}));
        QVERIFY(frames.contains(frame(0xC7, 0x41)));
        QCOMPARE(bus.read(0x2007), QString::number(0x42));

        QVERIFY(bus.write(0x2005, 0x5678, false));
        QCOMPARE(bus.gear().makerParameter(0x0005), 0x5678);
        QVERIFY(bus.write(0x2100, 0x0A0B, false)); // low byte 0: swapped on the way
        QCOMPARE(bus.gear().makerParameter(0x0100), 0x0A0B);
        QCOMPARE(bus.read(0x2100, false), QString::number(0x0A0B));
        QCOMPARE(bus.read(0x4009, false), QString::number(0xABCD));
        QVERIFY(bus.simpleLines().contains("SET VelaLogic parameter 5: 22136 (5678)"));
    }

    void bridgeRegistersWithTheirKeys()
    {
        ParameterBus bus;
        QCOMPARE(bus.read(0x3001), QStringLiteral("77"));
        QVERIFY(bus.frames().contains(frame(0xC7, 0x2E)));
        QVERIFY(bus.frames().contains(frame(0xC7, 0x6A)));
        QVERIFY(bus.write(0x3012, 95));
        QCOMPARE(bus.gear().bridgeRegister(18), 95);
        QVERIFY(bus.frames().contains(frame(0xC7, 0x5D)));
        QCOMPARE(bus.read(0x3012), QStringLiteral("95"));
        QCOMPARE(bus.read(0x3040), QStringLiteral("failed")); // no such register
        const QStringList lines = bus.simpleLines();
        QVERIFY(lines.contains("GET Keymark 1 NTC value: 77 (4D)"));
        QVERIFY(lines.contains("SET Keymark 18 Temperature after which the thermal protection kicks in: 95 (5F)"));
        QVERIFY(lines.contains("GET (KM ERROR) Keymark 64 Unknown: 0 (0)"));
    }

    void missingAnswerFailsTheRead()
    {
        ParameterBus bus;
        bool ok = true;
        QCOMPARE(bus.network()->readParameter(0x14, 0x00, true, ok), 0u); // nobody at short address 10
        QVERIFY(!ok);
        QCOMPARE(bus.read(0x2005, false, 0x14), QStringLiteral("failed"));
        QTest::qWait(20);
        general::Log* log = bus.network()->simpleLog();
        QCOMPARE(log->count(), 2);
        QCOMPARE(log->message(0)->type(), general::FAILURE);
        QCOMPARE(log->message(0)->text(), QStringLiteral("GET QUERY ACTUAL LEVEL: 0 (0)"));
    }

    void devicesReadThroughTheirAddress()
    {
        ParameterBus bus;
        QList<general::Device*> devices{bus.network()->createDevice(5, QStringLiteral("DALI Device 5")),
                                        bus.network()->findDevice(254)};
        for (general::Device* device : devices) {
            QVERIFY(qobject_cast<DaliDevice*>(device));
            auto* maxLevel = new general::Parameter(device, 0x04, QStringLiteral("Max level"), QString(), -1, -1, -1,
                                                    true, false, general::Parameter::Decimal);
            QCOMPARE(device->addParameter(device, maxLevel), maxLevel);
            QVERIFY(maxLevel->update(true));
            QCOMPARE(maxLevel->value(), 254);
        }
        QCOMPARE(bus.frames(), QList<quint16>({frame(Gear5Command, 0xA1), frame(0xFF, 0xA1)})); // QUERY MAX LEVEL
    }
};

QTEST_GUILESS_MAIN(TestDaliParameters)
#include "tst_daliparameters.moc"
