#include "cli/clioptions.h"

#include "cli/numbers.h"

#include <QMap>

#include <functional>
#include <iterator>

namespace halvorn::cli {

namespace {

const QString Program = QStringLiteral("tivaro-cli");
constexpr int HighestDongleIndex = 127;
constexpr double LongestTimeoutSeconds = 3600.0;

// A command's options: the name without dashes and whether a value follows.
struct OptionEntry
{
    const char* name;
    bool takesValue;
};

constexpr OptionEntry CommandOptions[] = {
    {"all", false},       {"new", false},       {"dry-run", false},   {"skip", true},
    {"frames", true},     {"seconds", true},    {"current1", true},   {"current2", true},
    {"current3", true},   {"current4", true},   {"curve", true},      {"min-level", true},
    {"ntc", true},
};

const OptionEntry* commandOption(const QString& name)
{
    for (const OptionEntry& entry : CommandOptions)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

// What the command line holds once the global options are taken out.
struct RawCommand
{
    QStringList words;                     // positional arguments
    QList<QPair<QString, QString>> options; // command options in order: name, value
    bool help = false;
};

class ArgumentError
{
public:
    explicit ArgumentError(QString text)
        : message(std::move(text))
    {
    }
    QString message;
};

// Reads the arguments of one command; every failure throws an ArgumentError
// naming the argument.
class CommandArguments
{
public:
    CommandArguments(const QStringList& words, int first, const QList<QPair<QString, QString>>& options)
        : m_words(words.mid(first))
        , m_options(options)
    {
    }

    bool atEnd() const { return m_next >= m_words.size(); }
    QString peek() const { return atEnd() ? QString() : m_words.at(m_next); }

    QString take(const QString& argument)
    {
        if (atEnd())
            throw ArgumentError(QStringLiteral("missing argument %1").arg(argument));
        return m_words.at(m_next++);
    }

    qint64 integer(const QString& argument, qint64 min, qint64 max)
    {
        return checkedInteger(argument, take(argument), min, max);
    }

    qint64 checkedInteger(const QString& argument, const QString& text, qint64 min, qint64 max) const
    {
        if (const std::optional<qint64> value = parseInteger(text, min, max))
            return *value;
        throw ArgumentError(QStringLiteral("%1 \"%2\" must be a number from %3 to %4 (decimal, or hexadecimal with 0x)")
                                .arg(argument, text)
                                .arg(min)
                                .arg(max));
    }

    double checkedFraction(const QString& argument, const QString& text, double min, double max) const
    {
        if (const std::optional<double> value = parseFraction(text, min, max))
            return *value;
        throw ArgumentError(QStringLiteral("%1 \"%2\" must be a number from %3 to %4")
                                .arg(argument, text)
                                .arg(min)
                                .arg(max));
    }

    // A short address 0..63 or "broadcast"; with `groups`, also "group G"
    // and "short N".
    DaliTarget daliTarget(bool groups)
    {
        DaliTarget target;
        const QString word = take(groups ? QStringLiteral("TARGET (broadcast, group G or short N)")
                                         : QStringLiteral("TARGET"));
        if (word == QLatin1String("broadcast"))
            return target;
        if (groups && word == QLatin1String("group")) {
            target.kind = DaliTarget::Group;
            target.address = int(integer(QStringLiteral("GROUP"), 0, 15));
            return target;
        }
        if (groups && word == QLatin1String("short")) {
            target.kind = DaliTarget::Short;
            target.address = int(integer(QStringLiteral("SHORT ADDRESS"), 0, 63));
            return target;
        }
        if (groups)
            throw ArgumentError(QStringLiteral("TARGET \"%1\" must be broadcast, group G or short N").arg(word));
        const std::optional<qint64> address = parseInteger(word, 0, 63);
        if (!address)
            throw ArgumentError(
                QStringLiteral("TARGET \"%1\" must be a short address from 0 to 63 or \"broadcast\"").arg(word));
        target.kind = DaliTarget::Short;
        target.address = int(*address);
        return target;
    }

    void finish()
    {
        if (!atEnd())
            throw ArgumentError(QStringLiteral("unexpected argument \"%1\"").arg(m_words.at(m_next)));
    }

    // The options this command accepts; any other one is an error.
    void allowOptions(std::initializer_list<const char*> allowed) const
    {
        for (const auto& [name, value] : m_options) {
            bool known = false;
            for (const char* candidate : allowed)
                known = known || name == QLatin1String(candidate);
            if (!known)
                throw ArgumentError(QStringLiteral("unknown option --%1").arg(name));
        }
    }

    bool has(const char* option) const
    {
        for (const auto& entry : m_options)
            if (entry.first == QLatin1String(option))
                return true;
        return false;
    }

    // The value of the last occurrence.
    std::optional<QString> value(const char* option) const
    {
        std::optional<QString> found;
        for (const auto& entry : m_options)
            if (entry.first == QLatin1String(option))
                found = entry.second;
        return found;
    }

    int skip() const
    {
        const std::optional<QString> text = value("skip");
        return text ? int(checkedInteger(QStringLiteral("--skip"), *text, 0, 255)) : 0;
    }

private:
    QStringList m_words;
    QList<QPair<QString, QString>> m_options;
    qsizetype m_next = 0;
};

using Parse = std::function<void(CommandArguments&, CliCommand&)>;

struct CommandEntry
{
    const char* words;
    CliCommand::Kind kind;
    const char* synopsis;
    const char* summary;
    const char* details;
    Parse parse;
};

void parseNothing(CommandArguments& args, CliCommand&)
{
    args.allowOptions({});
    args.finish();
}

void parseDriverNumber(CommandArguments& args, CliCommand& command)
{
    command.number = uint(args.integer(QStringLiteral("NUMBER"), 1, 255));
}

void parseKeymarkWrite(CommandArguments& args, CliCommand& command)
{
    args.allowOptions({"current1", "current2", "current3", "current4", "curve", "min-level", "ntc"});
    args.finish();
    KeymarkSettings& settings = command.keymark;
    for (int source = 0; source < 4; ++source) {
        const QByteArray option = "current" + QByteArray::number(source + 1);
        if (const std::optional<QString> text = args.value(option.constData()))
            settings.currentsMa[size_t(source)] =
                int(args.checkedInteger(QStringLiteral("--") + QLatin1String(option), *text, 200, 1050));
    }
    if (const std::optional<QString> curve = args.value("curve")) {
        if (*curve == QLatin1String("linear"))
            settings.curve = KeymarkSettings::Curve::Linear;
        else if (*curve == QLatin1String("log") || *curve == QLatin1String("logarithmic"))
            settings.curve = KeymarkSettings::Curve::Logarithmic;
        else
            throw ArgumentError(QStringLiteral("--curve \"%1\" must be linear or log").arg(*curve));
    }
    if (const std::optional<QString> level = args.value("min-level"))
        settings.minLevelPercent = args.checkedFraction(QStringLiteral("--min-level"), *level, 0.1, 100.0);
    if (const std::optional<QString> ntc = args.value("ntc"))
        settings.ntcCelsius = int(args.checkedInteger(QStringLiteral("--ntc"), *ntc, 0, 255));
    if (settings.isEmpty())
        throw ArgumentError(QStringLiteral("nothing to write: give --current1..4, --curve, --min-level or --ntc"));
}

void parseDmxSend(CommandArguments& args, CliCommand& command)
{
    args.allowOptions({"frames", "seconds"});
    const std::optional<QString> frames = args.value("frames");
    const std::optional<QString> seconds = args.value("seconds");
    if (frames && seconds)
        throw ArgumentError(QStringLiteral("give either --frames or --seconds, not both"));
    if (frames)
        command.frames = int(args.checkedInteger(QStringLiteral("--frames"), *frames, 1, 100000));
    if (seconds)
        command.seconds = args.checkedFraction(QStringLiteral("--seconds"), *seconds, 0.0, 86400.0);
    if (args.atEnd())
        throw ArgumentError(QStringLiteral("missing argument ADDRESS=VALUE"));
    while (!args.atEnd()) {
        const QString pair = args.take(QStringLiteral("ADDRESS=VALUE"));
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        if (equals < 0)
            throw ArgumentError(QStringLiteral("\"%1\" must be ADDRESS=VALUE, e.g. 1=255").arg(pair));
        const int address = int(args.checkedInteger(QStringLiteral("ADDRESS"), pair.left(equals), 1, 512));
        const int value = int(args.checkedInteger(QStringLiteral("VALUE"), pair.mid(equals + 1), 0, 255));
        command.setpoints.append({address, value});
    }
}

void parseSnapshotSave(CommandArguments& args, CliCommand& command)
{
    const QString kind = args.take(QStringLiteral("DEVICE (dali, dmx or keymark)"));
    if (kind == QLatin1String("dali")) {
        args.allowOptions({});
        command.snapshotKind = CliCommand::SnapshotKind::Dali;
        command.target = args.daliTarget(false);
    } else if (kind == QLatin1String("dmx")) {
        args.allowOptions({"skip"});
        command.snapshotKind = CliCommand::SnapshotKind::Dmx;
        command.lid = int(args.integer(QStringLiteral("LID"), 0, 65535));
        command.skip = args.skip();
    } else if (kind == QLatin1String("keymark")) {
        args.allowOptions({});
        command.snapshotKind = CliCommand::SnapshotKind::Keymark;
    } else {
        throw ArgumentError(QStringLiteral("DEVICE \"%1\" must be dali, dmx or keymark").arg(kind));
    }
    args.finish();
}

const CommandEntry Commands[] = {
    {"info", CliCommand::Info, "info",
     "Shows the dongle: index, version, capabilities and firmware parameters.",
     "The firmware parameters are those read when the dongle was opened.", parseNothing},
    {"dongle get", CliCommand::DongleGet, "dongle get NUMBER", "Reads a parameter of the dongle's firmware.",
     "NUMBER: the parameter's address in the dongle, 0..65535 (info lists the known ones).",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({});
         command.number = uint(args.integer(QStringLiteral("NUMBER"), 0, 65535));
         args.finish();
     }},
    {"dongle set", CliCommand::DongleSet, "dongle set NUMBER VALUE",
     "Writes a parameter of the dongle's firmware and reads it back.",
     "NUMBER: 0..65535; VALUE: 0..65535. Read-only parameters are refused.",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({});
         command.number = uint(args.integer(QStringLiteral("NUMBER"), 0, 65535));
         command.value = uint(args.integer(QStringLiteral("VALUE"), 0, 65535));
         args.finish();
     }},
    {"dali scan", CliCommand::DaliScan, "dali scan",
     "Asks every short address 0..63 whether gear answers (\"Search short addresses\").", "", parseNothing},
    {"dali commission", CliCommand::DaliCommission, "dali commission --all | --new",
     "Random-address commissioning: gives gear the next free short addresses.",
     "--all  re-address all gear (\"Search all devices\"), starting at 0\n"
     "--new  address only gear without a short address (\"Search new devices\"), with the first\n"
     "       addresses that no gear on the bus answers to (short addresses are scanned first)\n"
     "Ctrl-C stops the search; the gear addressed so far are reported (exit status 130).",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({"all", "new"});
         args.finish();
         if (args.has("all") == args.has("new"))
             throw ArgumentError(QStringLiteral("give either --all or --new"));
         command.newOnly = args.has("new");
     }},
    {"dali get", CliCommand::DaliGet, "dali get TARGET NUMBER", "Reads a parameter of DALI gear.",
     "TARGET: a short address 0..63 or \"broadcast\"\n"
     "NUMBER: a parameter of the DALI parameter map defined in the settings (dali_device.json),\n"
     "        e.g. 0 actual level, 3 min level, 4 max level, 39 dimming curve",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({});
         command.target = args.daliTarget(false);
         command.number = uint(args.integer(QStringLiteral("NUMBER"), 0, 65535));
         args.finish();
     }},
    {"dali set", CliCommand::DaliSet, "dali set TARGET NUMBER VALUE",
     "Writes a parameter of DALI gear and reads it back.",
     "TARGET: a short address 0..63 or \"broadcast\" (not read back)\n"
     "NUMBER: as for dali get; VALUE: within the parameter's range",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({});
         command.target = args.daliTarget(false);
         command.number = uint(args.integer(QStringLiteral("NUMBER"), 0, 65535));
         command.value = uint(args.integer(QStringLiteral("VALUE"), 0, 65535));
         args.finish();
     }},
    {"dali level", CliCommand::DaliLevel, "dali level broadcast|group G|short N LEVEL",
     "Sends a direct arc power level.", "G: 0..15; N: 0..63; LEVEL: 0 (off) .. 254",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({});
         command.target = args.daliTarget(true);
         command.value = uint(args.integer(QStringLiteral("LEVEL"), 0, 254));
         args.finish();
     }},
    {"dali power", CliCommand::DaliPower, "dali power [on|off]",
     "Shows whether the DALI bus has voltage; on/off switches the dongle's own bus supply.", "",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({});
         if (!args.atEnd()) {
             const QString state = args.take(QStringLiteral("STATE"));
             if (state != QLatin1String("on") && state != QLatin1String("off"))
                 throw ArgumentError(QStringLiteral("STATE \"%1\" must be on or off").arg(state));
             command.power = state == QLatin1String("on");
         }
         args.finish();
     }},
    {"dmx discover", CliCommand::DmxDiscover, "dmx discover",
     "RDM discovery of the drivers on the DMX line; each gets a device address (LID) 1, 2, ...",
     "Ctrl-C stops the search; the drivers found so far are reported (exit status 130).", parseNothing},
    {"dmx daisy", CliCommand::DmxDaisy, "dmx daisy LID",
     "Searches the daisy chain behind the driver with device address LID.", "LID: 0..65535",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({});
         command.lid = int(args.integer(QStringLiteral("LID"), 0, 65535));
         args.finish();
     }},
    {"dmx params", CliCommand::DmxParams, "dmx params LID [--skip K]",
     "Lists a driver's parameters with numbers, names, type words, ranges and values.",
     "LID: the driver's device address 0..65535 (0: whichever single driver answers)\n"
     "--skip K: the driver K places down the daisy chain of LID (0..255)",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({"skip"});
         command.lid = int(args.integer(QStringLiteral("LID"), 0, 65535));
         command.skip = args.skip();
         args.finish();
     }},
    {"dmx get", CliCommand::DmxGet, "dmx get LID NUMBER [--skip K]", "Reads a driver parameter.",
     "NUMBER: 1..255 (dmx params lists them)",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({"skip"});
         command.lid = int(args.integer(QStringLiteral("LID"), 0, 65535));
         parseDriverNumber(args, command);
         command.skip = args.skip();
         args.finish();
     }},
    {"dmx set", CliCommand::DmxSet, "dmx set LID NUMBER VALUE [--skip K]",
     "Writes a driver parameter and reads it back.",
     "NUMBER: 1..255; VALUE: within the range of the driver's type word (0/1 for a flag)",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({"skip"});
         command.lid = int(args.integer(QStringLiteral("LID"), 0, 65535));
         parseDriverNumber(args, command);
         command.value = uint(args.integer(QStringLiteral("VALUE"), 0, 65535));
         command.skip = args.skip();
         args.finish();
     }},
    {"dmx send", CliCommand::DmxSend, "dmx send [--frames N | --seconds S] ADDRESS=VALUE ...",
     "Sends DMX set points: the given addresses get their values, all others 0.",
     "ADDRESS: 1..512; VALUE: 0..255\n"
     "--frames N   send N frames, one per frame period (default 1)\n"
     "--seconds S  keep sending for S seconds",
     parseDmxSend},
    {"keymark read", CliCommand::KeymarkRead, "keymark read",
     "Reads the tag's driver: currents, dimming curve, minimum level, NTC temperature, Ampwise chips.", "",
     parseNothing},
    {"keymark write", CliCommand::KeymarkWrite,
     "keymark write [--current1 MA] ... [--current4 MA] [--curve linear|log] [--min-level PERCENT] [--ntc CELSIUS]",
     "Writes the given settings through the tag (others stay as they are) and reads them back.",
     "MA: 200..1050; PERCENT: 0.1..100 (rounded to a DALI level on the curve); CELSIUS: within the\n"
     "parameter's range",
     parseKeymarkWrite},
    {"snapshot save", CliCommand::SnapshotSave, "snapshot save dali TARGET | dmx LID [--skip K] | keymark",
     "Reads every readable parameter of a device and prints it as a snapshot (JSON).",
     "Redirect the output to a file: tivaro-cli snapshot save dmx 1 > driver.json", parseSnapshotSave},
    {"snapshot restore", CliCommand::SnapshotRestore, "snapshot restore FILE [--dry-run]",
     "Writes back the parameters that differ from a snapshot, after printing the differences.",
     "Read-only parameters are never written. --dry-run only prints the differences.",
     [](CommandArguments& args, CliCommand& command) {
         args.allowOptions({"dry-run"});
         command.file = args.take(QStringLiteral("FILE"));
         command.dryRun = args.has("dry-run");
         args.finish();
     }},
};

const CommandEntry* findCommand(const QStringList& words, int* used)
{
    for (const CommandEntry& entry : Commands) {
        const QStringList entryWords = QString::fromLatin1(entry.words).split(QLatin1Char(' '));
        if (words.size() >= entryWords.size() && words.mid(0, entryWords.size()) == entryWords) {
            *used = int(entryWords.size());
            return &entry;
        }
    }
    return nullptr;
}

bool isCommandGroup(const QString& word)
{
    for (const CommandEntry& entry : Commands)
        if (QString::fromLatin1(entry.words).section(QLatin1Char(' '), 0, 0) == word)
            return true;
    return false;
}

const char GlobalOptionsHelp[] =
    "Options (anywhere on the line):\n"
    "  --simulate[=FILE]       use the virtual Portline, with the installation in FILE\n"
    "                          (default: the built-in one) instead of the USB bus\n"
    "  --save-simulation FILE  with --simulate: save the simulated installation, as the\n"
    "                          command left it, to FILE (load it again with --simulate=FILE)\n"
    "  --dongle INDEX          use the dongle with this index (1, 2, ...; default: the first found)\n"
    "  --json                  print exactly one JSON document on standard output\n"
    "  --log-file FILE         append every log line to FILE (- for standard error)\n"
    "  --verbose               write every log line and diagnostic to standard error\n"
    "  --timeout SECONDS       how long to wait for the dongle (default 5)\n"
    "  --help, -h              this help; COMMAND --help for a command's help\n"
    "  --version               the version\n";

const char ExitStatusHelp[] =
    "Exit status: 0 success, 1 the operation failed on the bus (no answer, refused,\n"
    "not found), 2 usage error, 3 no dongle within --timeout, 130 interrupted (Ctrl-C).\n";

QString commandHelp(const CommandEntry& entry)
{
    QString text = QStringLiteral("Usage: %1 [options] %2\n\n%3\n")
                       .arg(Program, QLatin1String(entry.synopsis), QLatin1String(entry.summary));
    if (*entry.details)
        text += QLatin1Char('\n') + QLatin1String(entry.details) + QLatin1Char('\n');
    text += QLatin1Char('\n') + QLatin1String(GlobalOptionsHelp) + QLatin1Char('\n')
            + QLatin1String(ExitStatusHelp);
    return text;
}

// Help for the commands of one group ("tivaro-cli dali --help").
QString groupHelp(const QString& group)
{
    QString text = QStringLiteral("Commands of %1 %2:\n").arg(Program, group);
    for (const CommandEntry& entry : Commands) {
        if (QString::fromLatin1(entry.words).section(QLatin1Char(' '), 0, 0) == group)
            text += QStringLiteral("  %1\n      %2\n").arg(QLatin1String(entry.synopsis), QLatin1String(entry.summary));
    }
    return text + QStringLiteral("\n%1 %2 COMMAND --help shows the help of one command.\n").arg(Program, group);
}

CliOptions usageError(CliOptions options, const QString& context, const QString& problem)
{
    options.action = CliOptions::Action::UsageError;
    const QString prefix = context.isEmpty() ? Program : Program + QStringLiteral(": ") + context;
    options.message = QStringLiteral("%1: %2\nTry '%3%4 --help'.\n")
                          .arg(prefix, problem, Program,
                               context.isEmpty() ? QString() : QLatin1Char(' ') + context);
    return options;
}

CliOptions help(const QString& text)
{
    CliOptions options;
    options.action = CliOptions::Action::ShowHelp;
    options.message = text;
    return options;
}

// Help for what the words name: a command, a group or the whole tool.
CliOptions helpFor(const QStringList& words)
{
    int used = 0;
    if (const CommandEntry* entry = findCommand(words, &used))
        return help(commandHelp(*entry));
    if (!words.isEmpty() && isCommandGroup(words.first()))
        return help(groupHelp(words.first()));
    return help(CliOptions::toolHelp());
}

} // namespace

QString CliOptions::toolHelp()
{
    QString text = QStringLiteral("Usage: %1 [options] COMMAND ...\n\n"
                                  "Commissions and checks DALI, DMX and Keymark equipment through the Portline\n"
                                  "dongle, from scripts and production lines.\n\nCommands:\n")
                       .arg(Program);
    for (const CommandEntry& entry : Commands)
        text += QStringLiteral("  %1\n      %2\n").arg(QLatin1String(entry.synopsis), QLatin1String(entry.summary));
    text += QStringLiteral("\nNumbers are decimal or hexadecimal with 0x (0x1030).\n\n");
    text += QLatin1String(GlobalOptionsHelp) + QLatin1Char('\n') + QLatin1String(ExitStatusHelp);
    return text;
}

CliOptions CliOptions::parse(const QStringList& arguments)
{
    CliOptions options;
    RawCommand raw;
    bool versionAsked = false;
    bool optionsEnded = false;
    const QStringList tokens = arguments.mid(1);
    try {
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            const QString token = tokens.at(i);
            if (optionsEnded || !token.startsWith(QLatin1Char('-')) || token == QLatin1String("-")) {
                raw.words.append(token);
                continue;
            }
            if (token == QLatin1String("--")) {
                optionsEnded = true;
                continue;
            }
            if (token == QLatin1String("-h") || token == QLatin1String("--help")) {
                raw.help = true;
                continue;
            }
            if (!token.startsWith(QLatin1String("--")))
                throw ArgumentError(QStringLiteral("unknown option %1").arg(token));

            const qsizetype equals = token.indexOf(QLatin1Char('='));
            const QString name = token.mid(2, equals < 0 ? -1 : equals - 2);
            std::optional<QString> inlineValue;
            if (equals >= 0)
                inlineValue = token.mid(equals + 1);
            auto value = [&](const QString& valueName) -> QString {
                if (!inlineValue && i + 1 < tokens.size())
                    inlineValue = tokens.at(++i);
                if (!inlineValue || inlineValue->isEmpty())
                    throw ArgumentError(QStringLiteral("--%1 needs %2").arg(name, valueName));
                return *inlineValue;
            };
            auto noValue = [&] {
                if (inlineValue)
                    throw ArgumentError(QStringLiteral("--%1 takes no value").arg(name));
            };

            if (name == QLatin1String("simulate")) {
                options.simulate = true;
                options.simulationFile = inlineValue.value_or(QString());
            } else if (name == QLatin1String("save-simulation")) {
                options.saveSimulationFile = value(QStringLiteral("a file name"));
            } else if (name == QLatin1String("dongle")) {
                const QString text = value(QStringLiteral("an index"));
                const std::optional<qint64> index = parseInteger(text, 1, HighestDongleIndex);
                if (!index)
                    throw ArgumentError(QStringLiteral("--dongle \"%1\" must be a dongle index from 1 to %2")
                                            .arg(text)
                                            .arg(HighestDongleIndex));
                options.dongleIndex = int(*index);
            } else if (name == QLatin1String("json")) {
                noValue();
                options.json = true;
            } else if (name == QLatin1String("log-file")) {
                options.logFile = value(QStringLiteral("a file name"));
            } else if (name == QLatin1String("verbose")) {
                noValue();
                options.verbose = true;
            } else if (name == QLatin1String("timeout")) {
                const QString text = value(QStringLiteral("a number of seconds"));
                const std::optional<double> seconds = parseFraction(text, 0.0, LongestTimeoutSeconds);
                if (!seconds)
                    throw ArgumentError(QStringLiteral("--timeout \"%1\" must be a number of seconds from 0 to %2")
                                            .arg(text)
                                            .arg(LongestTimeoutSeconds));
                options.timeoutSeconds = *seconds;
            } else if (name == QLatin1String("version")) {
                noValue();
                versionAsked = true;
            } else if (const OptionEntry* entry = commandOption(name)) {
                if (entry->takesValue)
                    raw.options.append({name, value(QStringLiteral("a value"))});
                else {
                    noValue();
                    raw.options.append({name, QString()});
                }
            } else {
                throw ArgumentError(QStringLiteral("unknown option --%1").arg(name));
            }
        }
    } catch (const ArgumentError& error) {
        if (raw.help)
            return helpFor(raw.words);
        return usageError(options, QString(), error.message);
    }

    // Help and version win over mistakes elsewhere on the line.
    if (raw.help || (!raw.words.isEmpty() && raw.words.first() == QLatin1String("help")))
        return helpFor(raw.help ? raw.words : raw.words.mid(1));
    if (versionAsked) {
        options.action = Action::ShowVersion;
        options.message = QStringLiteral("%1 %2\n").arg(Program, QStringLiteral(TIVARO_VERSION));
        return options;
    }
    if (!options.saveSimulationFile.isEmpty() && !options.simulate)
        return usageError(options, QString(), QStringLiteral("--save-simulation needs --simulate"));
    if (raw.words.isEmpty())
        return usageError(options, QString(), QStringLiteral("missing COMMAND"));

    int used = 0;
    const CommandEntry* entry = findCommand(raw.words, &used);
    if (!entry) {
        if (isCommandGroup(raw.words.first())) {
            const QString group = raw.words.first();
            return usageError(options, group, raw.words.size() < 2
                                         ? QStringLiteral("missing COMMAND")
                                         : QStringLiteral("unknown command \"%1\"").arg(raw.words.at(1)));
        }
        return usageError(options, QString(), QStringLiteral("unknown command \"%1\"").arg(raw.words.first()));
    }

    options.command.kind = entry->kind;
    options.command.name = QString::fromLatin1(entry->words);
    CommandArguments args(raw.words, used, raw.options);
    try {
        entry->parse(args, options.command);
    } catch (const ArgumentError& error) {
        return usageError(options, options.command.name, error.message);
    }
    return options;
}

} // namespace halvorn::cli
