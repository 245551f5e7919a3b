#include "km/keymarkdevice.h"

#include "km/keymarknetwork.h"

#include <QTextStream>

namespace halvorn::km {

KeymarkDevice::KeymarkDevice(KeymarkNetwork* network, uint address, const QString& name)
    : dali::DaliDevice(network, address, name)
{
    setIcons(QStringLiteral(":/icons/keymark/connected"), QStringLiteral(":/icons/keymark/disconnected"));
}

void KeymarkDevice::printInfo()
{
    QTextStream out(stdout);
    out << ">> KeymarkDevice \"" << name() << "\"\n";
    out.flush();
}

} // namespace halvorn::km
