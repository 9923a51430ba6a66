// The command line of chamberctl: options, help, version and the messages for bad arguments.
#include "main/commandline.h"

#include "link/portnames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>

namespace chamber {

namespace {

constexpr int badUsage = 2; // as for any Unix command used wrongly

// Options that QApplication would take from its command line; the first six have an environment
// variable that does the same.
const QStringList qtOptions =
    QStringLiteral("platform platformpluginpath platformtheme plugin display style stylesheet "
                   "geometry qwindowgeometry title qwindowtitle qwindowicon reverse session name "
                   "widgetcount nograb dograb visual qmljsdebugger")
        .split(QLatin1Char(' '));
const QStringList qtVariables =
    QStringLiteral("QT_QPA_PLATFORM QT_QPA_PLATFORM_PLUGIN_PATH QT_QPA_PLATFORMTHEME "
                   "QT_QPA_GENERIC_PLUGINS DISPLAY QT_STYLE_OVERRIDE")
        .split(QLatin1Char(' '));

// What to say of arguments[at] when it is one of Qt's options, or a long option given with one
// dash, which the parser would read as short options run together ("-platform" as -p -l -a ...);
// empty for anything else.
QString misusedOption(const QStringList &arguments, qsizetype at, const QStringList &longNames,
                      const QString &shortNames)
{
    const QString &argument = arguments[at];
    const bool oneDash = !argument.startsWith(QLatin1String("--"));
    const QString word = argument.section(QLatin1Char('='), 0, 0); // "-platform"
    const QString name = word.mid(oneDash ? 1 : 2);                // "platform"
    if (!argument.startsWith(QLatin1Char('-')) || name.isEmpty())
        return {};
    if (longNames.contains(name)) {
        return oneDash ? QStringLiteral("Unknown option '%1'; did you mean '--%2'?").arg(word, name)
                       : QString();
    }
    if (const qsizetype index = qtOptions.indexOf(name); index >= 0) {
        if (index >= qtVariables.size())
            return QStringLiteral("'%1' is an option of Qt, which chamberctl does not take; Qt is "
                                  "set through environment variables such as QT_QPA_PLATFORM.")
                .arg(word);
        QString value = argument.section(QLatin1Char('='), 1);
        if (value.isEmpty() && at + 1 < arguments.size() &&
            !arguments[at + 1].startsWith(QLatin1Char('-')))
            value = arguments[at + 1];
        return QStringLiteral("'%1' is an option of Qt, which chamberctl does not take; set the "
                              "environment variable %2 instead: %2=%3 chamberctl")
            .arg(word, qtVariables[index], value.isEmpty() ? QStringLiteral("...") : value);
    }
    if (oneDash && name.size() > 1 &&
        std::any_of(name.begin(), name.end(), [&](QChar c) { return !shortNames.contains(c); }))
        return QStringLiteral("Unknown option '%1'.").arg(word);
    return {};
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs a temperature test chamber over a serial line (Modbus RTU, 9600 8N1, "
                       "slave 1).\nWith no options the window opens and the operator chooses the "
                       "port."));
    // Not addHelpOption(): its --help-all lists Qt's own options, which are parsed before Qt is
    // started and so are not accepted.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("After the port scan, open <COMn> (COM1 to COM99) "
                                                 "as if it had been chosen in the port list."),
                                  QStringLiteral("COMn"));
    const QCommandLineOption profile(QStringLiteral("profile"),
                                     QStringLiteral("Load the profile in <file> into the profile "
                                                    "fields at start."),
                                     QStringLiteral("file"));
    const QCommandLineOption records(QStringLiteral("records"),
                                     QStringLiteral("Keep the run records in <folder> (default: "
                                                    "~/.local/share/chamberctl/runs)."),
                                     QStringLiteral("folder"));
    const QCommandLineOption autoread(QStringLiteral("auto"),
                                      QStringLiteral("Tick \"Auto\" once a port is open: read the "
                                                     "temperature four times a second."));
    const QCommandLineOption operatorName(QStringLiteral("operator"),
                                          QStringLiteral("Name <name> as the operator in the "
                                                         "records and reports of the runs."),
                                          QStringLiteral("name"));
    const QCommandLineOption testId(QStringLiteral("test-id"),
                                    QStringLiteral("Name <text> as the test ID in the records and "
                                                   "reports of the runs."),
                                    QStringLiteral("text"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Make the report (PDF) and the summary (JSON) "
                                                   "of the run record <record> and exit; no "
                                                   "window opens."),
                                    QStringLiteral("record"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("With --report: write the report to <file> "
                                                   "(default: beside the record, .pdf)."),
                                    QStringLiteral("file"));
    parser.addOptions(
        {help, version, port, profile, records, autoread, operatorName, testId, report, output});

    CommandLine command;
    const auto bad = [&command](const QString &message) {
        command.errors = QStringLiteral("chamberctl: %1\nTry 'chamberctl --help' for more "
                                        "information.\n")
                             .arg(message);
        command.exitStatus = badUsage;
        return command;
    };
    const QStringList longNames = {QStringLiteral("help"),    QStringLiteral("version"),
                                   QStringLiteral("port"),    QStringLiteral("profile"),
                                   QStringLiteral("records"), QStringLiteral("auto")};
    const QStringList takingValues = {QStringLiteral("--port"), QStringLiteral("--profile"),
                                      QStringLiteral("--records")};
    for (qsizetype at = 1; at < arguments.size() && arguments[at] != QLatin1String("--"); ++at) {
        if (takingValues.contains(arguments[at])) {
            ++at; // a value, even one that begins with a dash
            continue;
        }
        const QString message = misusedOption(arguments, at, longNames, QStringLiteral("hv"));
        if (!message.isEmpty())
            return bad(message);
    }
    if (!parser.parse(arguments))
        return bad(parser.errorText());
    if (parser.isSet(help)) {
        // helpText() names the program "<executable_name>" when no application object exists
        const QString text = parser.helpText();
        command.output = QStringLiteral("Usage: chamberctl [options]") +
                         text.mid(text.indexOf(QLatin1Char('\n')));
        command.exitStatus = 0;
        return command;
    }
    if (parser.isSet(version)) {
        command.output = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                       QCoreApplication::applicationVersion());
        command.exitStatus = 0;
        return command;
    }
    if (!parser.positionalArguments().isEmpty())
        return bad(QStringLiteral("Unexpected argument '%1'.")
                       .arg(parser.positionalArguments().constFirst()));

    if (parser.isSet(port)) {
        const QString name = parser.value(port).trimmed().toUpper(); // "com3" means COM3
        if (comNumber(name) == 0)
            return bad(QStringLiteral("--port takes a port name COM1 to COM99, not '%1'.")
                           .arg(parser.value(port)));
        command.options.port = name;
    }
    // Relative names are taken from the folder the program was started in, as a shell user means.
    const auto absolute = [&parser](const QCommandLineOption &option, QString &path) {
        if (parser.isSet(option) && parser.value(option).isEmpty())
            return false;
        if (parser.isSet(option))
            path = QFileInfo(parser.value(option)).absoluteFilePath();
        return true;
    };
    if (!absolute(profile, command.options.profile))
        return bad(QStringLiteral("--profile needs a file name, not an empty one."));
    if (!absolute(records, command.options.records))
        return bad(QStringLiteral("--records needs a folder name, not an empty one."));
    command.options.autoread = parser.isSet(autoread);
    for (const auto &[option, value] : {std::pair{&operatorName, &command.options.operatorName},
                                        std::pair{&testId, &command.options.testId}}) {
        *value = parser.value(*option).simplified(); // one line in a record's comment
        if (parser.isSet(*option) && value->isEmpty())
            return bad(QStringLiteral("--%1 needs a text, not an empty one.")
                           .arg(option->names().constFirst()));
    }

    if (!absolute(report, command.reportRecord))
        return bad(QStringLiteral("--report needs a record's file name, not an empty one."));
    if (!absolute(output, command.reportOutput))
        return bad(QStringLiteral("--output needs a file name, not an empty one."));
    if (parser.isSet(output) && !parser.isSet(report))
        return bad(QStringLiteral("--output goes with --report."));
    if (parser.isSet(report)) {
        for (const QCommandLineOption *windowOption :
             {&port, &profile, &records, &autoread, &operatorName, &testId}) {
            if (parser.isSet(*windowOption))
                return bad(QStringLiteral("--report opens no window: --%1 does not go with it.")
                               .arg(windowOption->names().constFirst()));
        }
    }
    return command;
}

} // namespace chamber
