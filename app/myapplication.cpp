#include "app/myapplication.h"

#include <QDebug>

#include <exception>

MyApplication::MyApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    connect(this, &QCoreApplication::aboutToQuit, this, &MyApplication::cleanup);
}

MyApplication::~MyApplication() = default;

bool MyApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& exception) {
        qDebug() << "Exception thrown:" << exception.what();
        return false;
    }
}

void MyApplication::addShutdownStep(std::function<void()> step)
{
    if (step)
        m_shutdownSteps.push_back(std::move(step));
}

void MyApplication::setSimulation(bool simulate, const QString& simulationFile)
{
    m_simulate = simulate;
    m_simulationFile = simulationFile;
}

MyApplication* MyApplication::instance()
{
    return qobject_cast<MyApplication*>(QCoreApplication::instance());
}

void MyApplication::cleanup()
{
    // Shut-down hook of the USB layer: the dongle manager registers a step
    // here that asks its thread to quit, waits for it (at most 20000 ms) and
    // then deletes the manager, which shuts down each dongle and detaches
    // its networks.
    auto steps = std::exchange(m_shutdownSteps, {});
    for (auto step = steps.rbegin(); step != steps.rend(); ++step)
        (*step)();
}
