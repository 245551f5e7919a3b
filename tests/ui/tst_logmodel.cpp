// The log model and the log widgets: rows, roles, clearing and saving, and
// a log that grows from several threads while it is shown.
#include "general/log.h"
#include "general/logmessage.h"
#include "general/ui/appmenubar.h"
#include "general/ui/iconloader.h"
#include "general/ui/logmodel.h"
#include "general/ui/logwidget.h"
#include "general/ui/multilogwidget.h"
#include "tests/support/testthreads.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace halvorn::general;

namespace {

constexpr int kWaitMs = 10000;

void logMany(Log& log, int count, MessageType type = INFO)
{
    for (int i = 0; i < count; ++i)
        log.logMessage(GENERAL, QStringLiteral("message %1").arg(i), type, QThread::currentThread());
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 16)).toImage();
}

// Answers the next save-file dialog with a path (empty: cancel).
void answerSaveDialog(const QString& path, QString* seenTitle)
{
    QTimer::singleShot(0, [path, seenTitle] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        *seenTitle = dialog->windowTitle();
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
}

} // namespace

class TestLogModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rolesByMessageType_data();
    void rolesByMessageType();
    void clearRemovesAllRowsAndLateBatches();
    void saveWritesTheChosenFile_data();
    void saveWritesTheChosenFile();
    void followsNewMessagesOnlyWithAutoScroll();
    void rowsHaveTheLogsRowHeight();
    void logFromFourThreadsWhileShown();
    void logWindowHasOneTabPerLog();
};

void TestLogModel::rolesByMessageType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("background");
    QTest::addColumn<QVariant>("foreground");
    QTest::addColumn<QString>("icon");
    const QVariant none;
    auto c = [](int r, int g, int b) { return QVariant(QColor(r, g, b)); };
    //                                type          background             foreground           icon
    QTest::newRow("DEBUG")      << int(DEBUG)      << c(240, 240, 255) << c(0, 0, 125)     << "";
    QTest::newRow("INFO")       << int(INFO)       << none             << none             << "";
    QTest::newRow("WARN")       << int(WARN)       << c(240, 240, 255) << c(125, 110, 0)   << "warning";
    QTest::newRow("ERROR")      << int(ERROR)      << c(255, 230, 230) << c(125, 0, 0)     << "error";
    QTest::newRow("OK")         << int(OK)         << c(230, 255, 230) << c(0, 125, 0)     << "ok";
    QTest::newRow("BANNER")     << int(BANNER)     << c(1, 48, 135)    << c(255, 255, 255) << "";
    QTest::newRow("PYTHON_OUT") << int(PYTHON_OUT) << none             << none             << "";
    QTest::newRow("SEND")       << int(SEND)       << none             << c(0, 0, 75)      << "";
    QTest::newRow("REPLY")      << int(REPLY)      << c(240, 255, 240) << c(25, 75, 0)     << "";
    QTest::newRow("NOREPLY")    << int(NOREPLY)    << c(255, 250, 235) << c(125, 75, 0)    << "warning";
    QTest::newRow("FAILURE")    << int(FAILURE)    << c(255, 240, 240) << c(125, 0, 0)     << "error";
    QTest::newRow("ERRCS")      << int(ERRCS)      << c(255, 240, 240) << c(125, 0, 0)     << "error";
    QTest::newRow("type 12")    << 12              << none             << none             << "";
}

void TestLogModel::rolesByMessageType()
{
    QFETCH(int, type);
    QFETCH(QVariant, background);
    QFETCH(QVariant, foreground);
    QFETCH(QString, icon);
    Log log(QStringLiteral("types"));
    log.logMessage(DALI, QStringLiteral("the text"), MessageType(type), QThread::currentThread());
    LogModel model(&log);
    for (int column = 0; column < 4; ++column) { // the whole row is coloured
        QCOMPARE(model.data(model.index(0, column), Qt::BackgroundRole), background);
        QCOMPARE(model.data(model.index(0, column), Qt::ForegroundRole), foreground);
    }
    QCOMPARE(model.data(model.index(0, 0), Qt::DecorationRole), QVariant());
    const QVariant decoration = model.data(model.index(0, 3), Qt::DecorationRole);
    QCOMPARE(decoration.isValid(), !icon.isEmpty());
    if (!icon.isEmpty())
        QCOMPARE(iconImage(decoration.value<QIcon>()), iconImage(loadIcon(QStringLiteral(":/general/icons/") + icon)));
}

void TestLogModel::clearRemovesAllRowsAndLateBatches()
{
    Log log(QStringLiteral("clear"));
    logMany(log, 100);
    LogWidget widget;
    widget.setLog(&log);
    LogModel& model = *widget.logModel();
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QCOMPARE(widget.actions().at(2)->text(), QStringLiteral("Clear")); // the context menu
    widget.actions().at(2)->trigger();
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 0);
    QCOMPARE(removed.at(0).at(2).toInt(), 99);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(log.count(), 0);

    // The batch that was on its way before the clear adds nothing.
    model.messagesAdded(100, 149);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(inserted.size(), 0);
    // Messages after the clear: an old batch reaching past them is cut to
    // what the log holds.
    logMany(log, 5);
    model.messagesAdded(100, 149);
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(inserted.size(), 1);
    // Ranges that do not extend the rows change nothing.
    model.messagesAdded(0, 4);
    model.messagesAdded(3, 2);
    model.messagesRemoved(10, 20);
    model.messagesRemoved(4, 3);
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(inserted.size(), 1);
    QVERIFY(model.data(model.index(4, 3)).toString().startsWith(QLatin1String("message 4")));
    QCOMPARE(model.data(model.index(4, 0), Qt::ToolTipRole).toString(), log.message(4)->toolTip());
}

void TestLogModel::saveWritesTheChosenFile_data()
{
    QTest::addColumn<bool>("chosen");
    QTest::newRow("file chosen") << true;
    QTest::newRow("cancelled")   << false;
}

void TestLogModel::saveWritesTheChosenFile()
{
    QFETCH(bool, chosen);
    QTemporaryDir dir;
    Log log(QStringLiteral("save"));
    logMany(log, 3, WARN);
    LogWidget widget;
    widget.setLog(&log);
    const QString path = dir.filePath(QStringLiteral("saved.txt"));
    QString title;
    answerSaveDialog(chosen ? path : QString(), &title);
    QCOMPARE(widget.actions().at(1)->text(), QStringLiteral("Save log"));
    widget.actions().at(1)->trigger();
    QCOMPARE(title, QStringLiteral("Save Log File"));
    if (!chosen) {
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 0);
        QVERIFY(!QFile::exists(QStringLiteral("log.txt")));
        return;
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // three lines, each ended by a line feed
    QVERIFY(lines.at(2).endsWith("[WARN ] message 2"));
}

void TestLogModel::followsNewMessagesOnlyWithAutoScroll()
{
    Log log(QStringLiteral("scroll"));
    logMany(log, 200);
    LogWidget widget;
    widget.resize(400, 200);
    widget.setLog(&log);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QScrollBar* bar = widget.verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());

    QCOMPARE(widget.autoScrollAction(), widget.actions().at(0)); // in the context menu
    QVERIFY(widget.autoScrollAction()->isChecked());
    widget.autoScrollAction()->trigger(); // off
    QVERIFY(!log.autoScroll());
    bar->setValue(0);
    QSignalSpy added(&log, &Log::addedMessages);
    logMany(log, 50);
    QVERIFY(added.wait(kWaitMs));
    QTRY_COMPARE(widget.logModel()->rowCount(), 250);
    QCOMPARE(bar->value(), 0);

    widget.autoScrollAction()->trigger(); // on
    logMany(log, 50);
    QVERIFY(added.wait(kWaitMs));
    QTRY_COMPARE(widget.logModel()->rowCount(), 300);
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void TestLogModel::rowsHaveTheLogsRowHeight()
{
    // A message of five lines keeps the log's row height.
    Log log(QStringLiteral("heights"));
    log.logMessage(GENERAL, QStringLiteral("short"), INFO, nullptr);
    log.logMessage(GENERAL, QStringLiteral("a\nmessage\nof\nfive\nlines"), BANNER, nullptr);
    LogWidget widget;
    widget.setLog(&log);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QCOMPARE(widget.rowHeight(0), log.rowHeight());
    QCOMPARE(widget.rowHeight(1), log.rowHeight());

    Log tall(QStringLiteral("tall"));
    tall.setRowHeight(24);
    tall.logMessage(GENERAL, QStringLiteral("line"), INFO, nullptr);
    widget.setLog(&tall);
    QCOMPARE(widget.rowHeight(0), 24);
}

void TestLogModel::logFromFourThreadsWhileShown()
{
    // A network log lives in a thread of its own and is fed by every thread.
    auto* log = new Log(QStringLiteral("busy"));
    QThread logThread;
    log->moveToThread(&logThread);
    logThread.start();

    LogWidget widget;
    widget.resize(500, 300);
    widget.setLog(log);
    widget.show();
    QAbstractItemModelTester tester(widget.logModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);

    constexpr int kThreads = 4;
    constexpr int kPerThread = 5000;
    halvorn::test::ThreadGroup producers(kThreads, [log](int t) {
        for (int i = 0; i < kPerThread; ++i) {
            log->logMessage(GENERAL, QStringLiteral("thread %1 line %2").arg(t).arg(i), MessageType(i % 12),
                            QThread::currentThread());
            if (i % 500 == 0)
                QThread::msleep(5);
        }
    });
    // Clear once while the producers are busy, as a user would.
    QTest::qWait(20);
    widget.clearLog();
    QVERIFY(producers.join(kWaitMs));

    QTRY_COMPARE_WITH_TIMEOUT(widget.logModel()->rowCount(), log->count(), kWaitMs);
    QVERIFY(log->count() > 0);
    QVERIFY(log->count() <= kThreads * kPerThread);
    const QModelIndex last = widget.logModel()->index(log->count() - 1, 3);
    QVERIFY(widget.logModel()->data(last).toString().startsWith(QLatin1String("thread ")));

    widget.setLog(nullptr);
    QMetaObject::invokeMethod(log, [log] { log->deleteLater(); });
    logThread.quit();
    QVERIFY(logThread.wait(kWaitMs));
}

void TestLogModel::logWindowHasOneTabPerLog()
{
    Log mainLog(QStringLiteral("Main log"));
    Log daliLog(QStringLiteral("DALI"));
    MultiLogWidget window;
    window.addLog(&mainLog);
    window.addLog(&daliLog);
    window.addLog(&mainLog);
    QCOMPARE(window.logCount(), 2); // a log added twice has one tab
    QCOMPARE(window.tabs()->tabText(1), QStringLiteral("DALI"));
    QCOMPARE(window.logWidget(1)->log(), &daliLog);

    QStringList registered; // in the Window menu, under its shortcut
    for (QAction* action : AppMenuBar::instance()->windowMenu()->actions())
        registered << (action->parent() == &window ? action->text() + action->shortcut().toString() : QString());
    QVERIFY(registered.contains(QStringLiteral("LogCtrl+2")));
}

QTEST_MAIN(TestLogModel)
#include "tst_logmodel.moc"
