#include "general/iomanager.h"

#include "general/input.h"
#include "general/output.h"

namespace halvorn::general {

IOManager::IOManager(TreeNode* parent)
    : TreeNode(parent)
{
    setName(QStringLiteral("Inputs/outputs"));
    setAutoUpdateCheckable(false);
}

Output* IOManager::output(const QString& name)
{
    return findOrCreate<Output>(name);
}

Input* IOManager::input(const QString& name)
{
    return findOrCreate<Input>(name);
}

IO* IOManager::findIO(const QString& name) const
{
    for (TreeNode* node : childNodes()) {
        auto* io = qobject_cast<IO*>(node);
        if (io && io->name() == name)
            return io;
    }
    return nullptr;
}

template<typename T>
T* IOManager::findOrCreate(const QString& name)
{
    QMutexLocker locker(&m_createMutex);
    // An input and an output may share a name (a slider's "Input" and "Output").
    for (TreeNode* node : childNodes()) {
        auto* io = qobject_cast<T*>(node);
        if (io && io->name() == name)
            return io;
    }
    auto* io = new T(this);
    io->setName(name);
    addChild(io, true);
    return io;
}

} // namespace halvorn::general
