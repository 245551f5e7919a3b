// The settings importer and the parameter-definition reader on one file:
// ConfigStore::importFile reads the input as a settings file, then every
// top-level member (at most four) is read as a device type, once as
// "<key>|Parameters" and once as definitions at the key itself, into a
// device whose parameters, groups, byte and bit views are then shown in
// every column and display mode, as the tree view would.
#include "fuzz/fuzzsupport.h"
#include "general/configstore.h"
#include "general/parameter.h"
#include "general/parameterdefinitionreader.h"
#include "general/parameterdevice.h"
#include "general/treenode.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace halvorn;

namespace {

constexpr int MostDeviceTypes = 4;
constexpr int DisplayModes = 5;
// The main log collects the importer's messages; cleared every so often.
constexpr int ClearLogEvery = 256;

void showTree(const general::TreeNode* node)
{
    node->toString();
    for (int column = 0; column < node->columnCount(); ++column) {
        for (const int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::EditRole)})
            node->data(column, role);
        node->flags(column);
    }
    if (const auto* parameter = qobject_cast<const general::Parameter*>(node)) {
        for (const int value : {parameter->minimum(), parameter->maximum(), parameter->value(), 0, -1})
            for (int mode = 0; mode < DisplayModes; ++mode)
                parameter->formatValue(mode, value);
        parameter->text();
        parameter->numberText();
        parameter->position();
    }
    for (const general::TreeNode* child : node->childNodes())
        showTree(child);
}

const QString& settingsFile()
{
    static QTemporaryDir* const dir = new QTemporaryDir;
    static const QString path = dir->filePath(QStringLiteral("fuzz_settings.json"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::ensureApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int runs = 0;
    const QByteArray contents(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(settingsFile());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size()) {
            std::fprintf(stderr, "fuzz_settings: cannot write %s\n", qPrintable(settingsFile()));
            std::abort();
        }
    }
    // One settings file at a time: the tree would otherwise keep every input.
    general::ConfigStore::clear();
    if (!general::ConfigStore::importFile(settingsFile())) {
        std::fprintf(stderr, "fuzz_settings: importFile refused a readable file\n");
        std::abort();
    }

    const QJsonObject root = QJsonDocument::fromJson(contents).object();
    int read = 0;
    for (auto it = root.begin(); it != root.end() && read < MostDeviceTypes; ++it, ++read) {
        general::ParameterDevice device;
        general::ParameterDefinitionReader::readDevice(&device, it.key());
        general::ParameterDefinitionReader::readGroup(&device, &device, it.key());
        showTree(&device);
        // Settings lookups of every kind on the member itself.
        QVariant value;
        QString text;
        QStringList list;
        int number = 0;
        bool flag = false;
        float real = 0;
        general::ConfigStore::getValue(it.key(), value);
        general::ConfigStore::getString(it.key(), text);
        general::ConfigStore::getInt(it.key(), number);
        general::ConfigStore::getBool(it.key(), flag);
        general::ConfigStore::getFloat(it.key(), real);
        general::ConfigStore::getStringList(it.key(), list);
        general::ConfigStore::getKeys(it.key(), list);
    }
    if (++runs % ClearLogEvery == 0) {
        general::mainLog()->clear();
        fuzz::settle();
    }
    return 0;
}
