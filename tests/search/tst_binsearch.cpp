// The binary address-space search against a scripted bus: the exact order
// of range questions, verifications and mutes, the end after eleven silent
// whole-range questions, the single-reply shortcut, aborting, and large
// random populations.

#include "general/binsearch.h"

#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include <unistd.h>

using namespace halvorn::general;
using Devices = std::set<quint64>;

namespace {

// A bus whose devices answer range questions from a set of addresses, as
// correct equipment would: no answer, one answer, or a collision. Every
// question, verification and mute is recorded in order as text:
// "4-7" (a question), "verify 4 no", "verify 5 yes", "mute 5".
class ScriptedBus : public BinSearch
{
public:
    ScriptedBus(const Devices& devices, quint64 low, quint64 high, bool shortcut = false)
        : BinSearch(QStringLiteral("Scripted search"), low, high, shortcut)
        , m_devices(devices)
    {
        setTraceEnabled(false);
    }

    // Called after each question has been answered (the number asked so far).
    std::function<void(int)> afterQuestion;
    bool undecodableSingleReply = false; // the shortcut's bus cannot decode the reply
    int silentQuestions = 0;             // devices still powering up ignore the first questions
    bool ignoresMute = false;            // a device that keeps answering

    void prepare() override { ++prepareCalls; }

    int checkCondition(SearchNode* node) override
    {
        const std::vector<quint64> answering = questions < silentQuestions
                                                   ? std::vector<quint64>{}
                                                   : unmutedIn(node->low, node->high, 2);
        const int answer = answering.empty() ? NoReply : answering.size() == 1 ? SingleReply : MultipleReplies;
        m_lastSingle = answer == SingleReply ? answering.front() : NoAddress;
        events << rangeText(node->low, node->high);
        ++questions;
        traceCheckCondition(node, answer);
        if (afterQuestion)
            afterQuestion(questions);
        return answer;
    }

    bool verify(SearchNode* node) override
    {
        traceVerify(node);
        const bool confirmed = m_devices.count(node->low) && !m_muted.count(node->low);
        events << QStringLiteral("verify %1 %2").arg(node->low).arg(confirmed ? "yes" : "no");
        if (confirmed)
            ++confirmedCount[node->low];
        return confirmed;
    }

    void mute(SearchNode* node) override
    {
        traceMute(node);
        if (!ignoresMute)
            m_muted.insert(node->low);
        events << QStringLiteral("mute %1").arg(node->low);
    }

    SearchNode* singleReplyNode() override
    {
        if (undecodableSingleReply || m_lastSingle == NoAddress)
            return nullptr;
        return makeNode(m_lastSingle, m_lastSingle);
    }

    static QString rangeText(quint64 low, quint64 high)
    {
        return low == high ? QString::number(low) : QStringLiteral("%1-%2").arg(low).arg(high);
    }

    QStringList events;
    int questions = 0;
    int prepareCalls = 0;
    std::map<quint64, int> confirmedCount;

private:
    static constexpr quint64 NoAddress = ~quint64(0);

    std::vector<quint64> unmutedIn(quint64 low, quint64 high, size_t atMost) const
    {
        std::vector<quint64> found;
        for (auto it = m_devices.lower_bound(low); it != m_devices.end() && *it <= high; ++it) {
            if (!m_muted.count(*it))
                found.push_back(*it);
            if (found.size() == atMost)
                break;
        }
        return found;
    }

    const Devices m_devices;
    std::set<quint64> m_muted;
    quint64 m_lastSingle = NoAddress;
};

QStringList events(const QString& list)
{
    return list.split(QStringLiteral(", "), Qt::SkipEmptyParts);
}

// The end of every search: the whole range asked eleven times without answer.
QStringList silentWholeRange(const QString& range)
{
    return QStringList(11, range);
}

QList<int> progressValues(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& arguments : spy)
        values << (arguments.at(2).toInt() == 10 ? arguments.at(1).toInt() : -1);
    return values;
}

const QList<int> OneToTen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// Each answering range costs at most three questions (its halves, and itself
// again after the descent), and a device has `bits` ranges above it.
int questionBound(int deviceCount, int bits)
{
    return 3 * deviceCount * bits + 11;
}

} // namespace

Q_DECLARE_METATYPE(Devices)

class TestBinSearch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void walksTheAddressSpaceInOrder_data();
    void walksTheAddressSpaceInOrder();
    void confirmedDeviceResetsTheRetries();
    void abortStopsBeforeTheNextQuestion_data();
    void abortStopsBeforeTheNextQuestion();
    void abortFromAnotherThreadStopsTheRunningSearch();
    void deviceThatNeverMutesEndsAtTheQuestionLimit();
    void findsEveryDeviceOfAPopulation_data();
    void findsEveryDeviceOfAPopulation();
    void writesTraceLinesToStandardOutput();
};

void TestBinSearch::walksTheAddressSpaceInOrder_data()
{
    QTest::addColumn<Devices>("devices");
    QTest::addColumn<quint64>("low");
    QTest::addColumn<quint64>("high");
    QTest::addColumn<bool>("shortcut");
    QTest::addColumn<bool>("undecodable");
    QTest::addColumn<QStringList>("expected");

    // A single address reached by descending is verified without being
    // asked; one taken from the stack is asked first. Parents are asked
    // again on the way back up, and the whole range eleven times at the end.
    const QStringList atFive = events("0-15, 0-7, 0-3, 4-7, 4-5, verify 4 no, 5, verify 5 yes, mute 5, "
                                      "4-5, 6-7, 4-7, 0-7, 8-15") + silentWholeRange("0-15");
    QTest::newRow("one device at 5") << Devices{5} << 0ull << 15ull << false << false << atFive;
    QTest::newRow("reversed range is searched ascending") << Devices{5} << 15ull << 0ull << false << false << atFive;
    QTest::newRow("adjacent devices at 6 and 7")
        << Devices{6, 7} << 0ull << 15ull << false << false
        << events("0-15, 0-7, 0-3, 4-7, 4-5, 6-7, verify 6 yes, mute 6, 7, verify 7 yes, mute 7, "
                  "6-7, 4-7, 0-7, 8-15") + silentWholeRange("0-15");
    QTest::newRow("one device at the bottom edge")
        << Devices{0} << 0ull << 15ull << false << false
        << events("0-15, 0-7, 0-3, 0-1, verify 0 yes, mute 0, 1, 0-1, 2-3, 0-3, 4-7, 0-7, 8-15")
               + silentWholeRange("0-15");
    QTest::newRow("no device") << Devices{} << 0ull << 15ull << false << false << silentWholeRange("0-15");
    // [0, 2] splits into [0, 1] and the single 2, which is asked after the
    // silent left half and verified because it answers.
    QTest::newRow("device behind a silent left half of an uneven range")
        << Devices{2} << 0ull << 2ull << false << false
        << events("0-2, 0-1, 2, verify 2 yes, mute 2") + silentWholeRange("0-2");
    QTest::newRow("popped single address that stays silent is not verified")
        << Devices{0} << 0ull << 2ull << false << false
        << events("0-2, 0-1, verify 0 yes, mute 0, 1, 0-1, 2") + silentWholeRange("0-2");
    QTest::newRow("shortcut verifies the named address at once")
        << Devices{9} << 0ull << 15ull << true << false
        << events("0-15, verify 9 yes, mute 9, 8-15") + silentWholeRange("0-15");
    QTest::newRow("shortcut does not skip a collision")
        << Devices{2, 3} << 0ull << 15ull << true << false
        << events("0-15, 0-7, 0-3, 0-1, 2-3, verify 2 yes, mute 2, 3, verify 3 yes, mute 3, "
                  "2-3, 0-3, 4-7, 0-7, 8-15") + silentWholeRange("0-15");
    QTest::newRow("shortcut without a node descends as for a collision")
        << Devices{9} << 0ull << 15ull << true << true
        << events("0-15, 0-7, 8-15, 8-11, 8-9, verify 8 no, 9, verify 9 yes, mute 9, "
                  "8-9, 10-11, 8-11, 12-15, 8-15") + silentWholeRange("0-15");
}

void TestBinSearch::walksTheAddressSpaceInOrder()
{
    QFETCH(Devices, devices);
    QFETCH(quint64, low);
    QFETCH(quint64, high);
    QFETCH(bool, shortcut);
    QFETCH(bool, undecodable);
    QFETCH(QStringList, expected);

    ScriptedBus bus(devices, low, high, shortcut);
    bus.undecodableSingleReply = undecodable;
    QSignalSpy progress(&bus, qOverload<Task*, int, int>(&Task::taskProgress));
    QSignalSpy aborted(&bus, &Task::taskAborted);
    QSignalSpy done(&bus, &Task::taskDone);
    bus.run();

    QCOMPARE(bus.events, expected);
    QCOMPARE(bus.questionCount(), quint64(bus.questions));
    QCOMPARE(bus.prepareCalls, 1);
    QCOMPARE(progressValues(progress), OneToTen);
    QCOMPARE(progress.first().at(0).value<Task*>(), &bus);
    for (quint64 address : devices)
        QCOMPARE(bus.confirmedCount[address], 1);
    QCOMPARE(aborted.count(), 0);
    QCOMPARE(done.count(), 1);
}

void TestBinSearch::confirmedDeviceResetsTheRetries()
{
    // A device that stays silent for the first three whole-range questions
    // (still powering up) is found on the fourth; ten retries follow again.
    ScriptedBus bus({12}, 0, 15);
    bus.silentQuestions = 3;
    QSignalSpy progress(&bus, qOverload<Task*, int, int>(&Task::taskProgress));
    bus.execute();

    QCOMPARE(bus.confirmedCount[12], 1);
    QCOMPARE(progressValues(progress), QList<int>({1, 2, 3}) + OneToTen);
    QCOMPARE(bus.events.count(QStringLiteral("0-15")), 3 + 1 + 11);
    QCOMPARE(bus.events.mid(bus.events.size() - 11), silentWholeRange("0-15"));
}

void TestBinSearch::abortStopsBeforeTheNextQuestion_data()
{
    QTest::addColumn<quint64>("high");
    QTest::addColumn<int>("abortAfter");
    // Questions for the device at 5 in [0, 15]: 0-15, 0-7, 0-3, 4-7, 4-5,
    // 5, … and in [0, 2]: 0-2, 0-1, then the popped single 2.
    QTest::newRow("during the first question") << 15ull << 1;
    QTest::newRow("during the descent") << 15ull << 3;
    QTest::newRow("before the descent reaches a single address") << 15ull << 5;
    QTest::newRow("while asking a popped single address") << 15ull << 6;
    QTest::newRow("during the silent whole-range questions") << 15ull << 16;
    QTest::newRow("before asking a single address after a silent range") << 2ull << 2;
}

void TestBinSearch::abortStopsBeforeTheNextQuestion()
{
    QFETCH(quint64, high);
    QFETCH(int, abortAfter);
    ScriptedBus bus({high == 2 ? 2u : 5u}, 0, high);
    bus.afterQuestion = [&bus, abortAfter](int asked) {
        if (asked == abortAfter)
            bus.abort();
    };
    QSignalSpy aborted(&bus, &Task::taskAborted);
    QSignalSpy done(&bus, &Task::taskDone);
    bus.run();

    QCOMPARE(bus.questions, abortAfter);
    QCOMPARE(aborted.count(), 1);
    QCOMPARE(done.count(), 1);
}

void TestBinSearch::abortFromAnotherThreadStopsTheRunningSearch()
{
    // The bus holds its third answer until the test thread has aborted.
    ScriptedBus bus({5, 300, 7000}, 0, 0xFFFF);
    QSemaphore inThirdQuestion;
    QSemaphore abortGiven;
    bool waitTimedOut = false;
    bus.afterQuestion = [&](int asked) {
        if (asked != 3)
            return;
        inThirdQuestion.release();
        waitTimedOut = !abortGiven.tryAcquire(1, 5000);
    };
    QSignalSpy aborted(&bus, &Task::taskAborted);

    std::unique_ptr<QThread> worker(QThread::create([&bus] { bus.run(); }));
    worker->start();
    QVERIFY(inThirdQuestion.tryAcquire(1, 5000));
    bus.abort();
    abortGiven.release();
    QVERIFY(worker->wait(5000));

    QVERIFY(!waitTimedOut);
    QCOMPARE(bus.questions, 3);
    QCOMPARE(aborted.count(), 1);
}

void TestBinSearch::deviceThatNeverMutesEndsAtTheQuestionLimit()
{
    ScriptedBus bus({5}, 0, 15);
    bus.ignoresMute = true;
    bus.setQuestionLimit(100);
    bus.afterQuestion = [&bus](int asked) {
        if (asked == 1000)
            bus.abort(); // bounds the test when the limit does not
    };
    QSignalSpy done(&bus, &Task::taskDone);
    bus.run();
    QCOMPARE(bus.questions, 100);
    QCOMPARE(done.count(), 1);
}

void TestBinSearch::findsEveryDeviceOfAPopulation_data()
{
    QTest::addColumn<Devices>("devices");
    QTest::addColumn<int>("addressBits");
    QTest::addColumn<bool>("shortcut");

    const auto random = [](int count, int bits, quint32 seed) {
        QRandomGenerator generator(seed);
        Devices devices;
        while (int(devices.size()) < count)
            devices.insert(generator.generate64() & ((quint64(1) << bits) - 1));
        return devices;
    };
    QTest::newRow("50 in 24 bits, seed 1") << random(50, 24, 1) << 24 << false;
    QTest::newRow("50 in 24 bits, seed 2") << random(50, 24, 2) << 24 << false;
    QTest::newRow("50 in 24 bits, seed 3") << random(50, 24, 3) << 24 << false;
    QTest::newRow("50 in 32 bits") << random(50, 32, 4) << 32 << false;
    QTest::newRow("50 in 48 bits with the shortcut") << random(50, 48, 5) << 48 << true;
    QTest::newRow("200 in 16 bits (crowded)") << random(200, 16, 6) << 16 << false;
    QTest::newRow("edges of the 64-bit space") << Devices{0, quint64(1) << 63, ~quint64(0) - 1, ~quint64(0)} << 64
                                               << false;
}

void TestBinSearch::findsEveryDeviceOfAPopulation()
{
    QFETCH(Devices, devices);
    QFETCH(int, addressBits);
    QFETCH(bool, shortcut);

    const quint64 high = addressBits == 64 ? ~quint64(0) : (quint64(1) << addressBits) - 1;
    ScriptedBus bus(devices, 0, high, shortcut);
    bus.execute();

    for (quint64 address : devices)
        QVERIFY2(bus.confirmedCount[address] == 1, qPrintable(QString::number(address)));
    QCOMPARE(bus.confirmedCount.size(), devices.size());
    const int bound = questionBound(int(devices.size()), addressBits);
    QVERIFY2(bus.questions <= bound, qPrintable(QStringLiteral("%1 questions, bound %2").arg(bus.questions).arg(bound)));
    QCOMPARE(bus.events.mid(bus.events.size() - 11), silentWholeRange(ScriptedBus::rangeText(0, high)));
}

void TestBinSearch::writesTraceLinesToStandardOutput()
{
    QTemporaryFile capture;
    QVERIFY(capture.open());
    std::fflush(stdout);
    const int savedStdout = dup(fileno(stdout));
    QVERIFY(savedStdout >= 0);
    QVERIFY(dup2(capture.handle(), fileno(stdout)) >= 0);

    ScriptedBus bus({5}, 0, 15);
    bus.setTraceEnabled(true);
    bus.execute();

    std::fflush(stdout);
    dup2(savedStdout, fileno(stdout));
    close(savedStdout);

    capture.seek(0);
    const QStringList lines = QString::fromLocal8Bit(capture.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("*** CheckCondition 0x0..0xF : SINGLE"));
    QVERIFY(lines.contains(QStringLiteral("*** CheckCondition 0x0..0x3 : NO REPLY")));
    QVERIFY(lines.contains(QStringLiteral("*** Verify 0x5..0x5")));
    QVERIFY(lines.contains(QStringLiteral("*** Mute 0x5..0x5")));
    // One after the descent emptied the stack, eleven for the silent whole range.
    QCOMPARE(lines.count(QStringLiteral("  End..")), 12);
}

QTEST_GUILESS_MAIN(TestBinSearch)
#include "tst_binsearch.moc"
