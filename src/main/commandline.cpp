// The command line of chamberctl: options, help, version and the messages for bad arguments.
#include "main/commandline.h"

#include "link/portnames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>

#include <algorithm>
#include <functional>
#include <optional>

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

const char passwordVariable[] = "CHAMBERCTL_MQTT_PASSWORD";

// A broker setting and where it came from: an option, or a key of the settings file.
struct Setting
{
    QString value;
    QString source; // "--mqtt", or "mqtt/url in /home/lab/.config/chamberctl/chamberctl.conf"
    bool fromFile = false;
};

struct BrokerError
{
    QString message;
    bool fromFile = false;
};

// The password: the first line of the file, whose line end is not part of it.
std::optional<QString> readPassword(const QString &path, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QString password =
        QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    if (password.isEmpty()) {
        error = QStringLiteral("%1 holds no password").arg(path);
        return std::nullopt;
    }
    return password;
}

// The broker settings from the options, the settings file and the environment; url is the
// broker's URL and where it came from (empty: no broker).
std::optional<BrokerSettings> brokerSettings(const Setting &url,
                                             const std::function<Setting(const char *)> &pick,
                                             BrokerError &error)
{
    const auto fail = [&error](const Setting &setting, const QString &message) {
        error = {QStringLiteral("%1: %2").arg(setting.source, message), setting.fromFile};
        return std::nullopt;
    };
    BrokerSettings settings;
    settings.url = url.value;
    QString problem;
    const std::optional<BrokerAddress> address = parseBrokerUrl(url.value, problem);
    if (!address)
        return fail(url, problem);
    settings.address = *address;
    settings.user = pick("user").value;

    // --mqtt-password-file, then the environment, then the settings file's password file
    const Setting passwordFile = pick("password-file");
    const bool fromEnvironment = qEnvironmentVariableIsSet(passwordVariable);
    if (!passwordFile.value.isEmpty() && (!passwordFile.fromFile || !fromEnvironment)) {
        const std::optional<QString> password = readPassword(passwordFile.value, problem);
        if (!password)
            return fail(passwordFile, problem);
        settings.password = *password;
    } else if (fromEnvironment) {
        settings.password = qEnvironmentVariable(passwordVariable);
    }

    const Setting ca = pick("ca");
    settings.caFile = ca.value;
    if (!ca.value.isEmpty() && !settings.address.tls)
        return fail(ca, QStringLiteral("a certificate authority is only used with an mqtts:// "
                                       "URL"));
    if (!ca.value.isEmpty() && !QFileInfo(ca.value).isReadable())
        return fail(ca, QStringLiteral("cannot read %1").arg(ca.value));

    const Setting station = pick("station");
    settings.station = station.value.isEmpty() ? QSysInfo::machineHostName() : station.value;
    if (!validStation(settings.station))
        return fail(station, QStringLiteral("'%1' cannot name a station: it names one level of "
                                            "the topic, so it needs a character and takes no "
                                            "'/', '+' or '#'")
                                 .arg(settings.station));
    return settings;
}

} // namespace

QString settingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/chamberctl/chamberctl.conf");
}

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
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
                                  QStringLiteral("Publish what this station does to the MQTT "
                                                 "broker at <URL>: mqtt://host[:port] or, with "
                                                 "TLS, mqtts://host[:port]. Without it nothing "
                                                 "connects anywhere."),
                                  QStringLiteral("URL"));
    const QCommandLineOption user(QStringLiteral("mqtt-user"),
                                  QStringLiteral("The user name to give the broker."),
                                  QStringLiteral("name"));
    const QCommandLineOption passwordFile(
        QStringLiteral("mqtt-password-file"),
        QStringLiteral("Read the broker's password from the first line of <file>. Else it is "
                       "taken from the environment variable %1; never from the command line, "
                       "where every user of the computer can read it.")
            .arg(QLatin1String(passwordVariable)),
        QStringLiteral("file"));
    const QCommandLineOption ca(QStringLiteral("mqtt-ca"),
                                QStringLiteral("Trust the broker's certificate only when the "
                                               "authority in <file> signed it (default: the "
                                               "system's trust store). The host name is always "
                                               "checked."),
                                QStringLiteral("file"));
    const QCommandLineOption station(QStringLiteral("station"),
                                     QStringLiteral("Publish under chamberctl/<name>/ (default: "
                                                    "the host name)."),
                                     QStringLiteral("name"));
    const QCommandLineOption overview(QStringLiteral("overview"),
                                      QStringLiteral("Open the read-only lab overview of the "
                                                     "stations publishing to the broker at <URL>, "
                                                     "instead of the chamber's window."),
                                      QStringLiteral("URL"));
    const QCommandLineOption recover(
        QStringLiteral("recover"),
        QStringLiteral("When the last run did not end (a crash, a power cut): ask what to do "
                       "(ask, the default), resume it, end it at 25.0 °C, or leave the chamber "
                       "as it is."),
        QStringLiteral("resume|end|leave|ask"));
    const QList<QCommandLineOption> options = {
        help,   version, port, profile, records,      autoread, operatorName, testId,  recover,
        report, output,  mqtt, user,    passwordFile, ca,       station,      overview};
    parser.addOptions(options);

    CommandLine command;
    const auto bad = [&command](const QString &message) {
        command.errors = QStringLiteral("chamberctl: %1\nTry 'chamberctl --help' for more "
                                        "information.\n")
                             .arg(message);
        command.exitStatus = badUsage;
        return command;
    };
    QStringList longNames;
    QStringList takingValues;
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().constLast();
        longNames << name;
        if (!option.valueName().isEmpty())
            takingValues << QStringLiteral("--") + name;
    }
    for (qsizetype at = 1; at < arguments.size() && arguments[at] != QLatin1String("--"); ++at) {
        if (takingValues.contains(arguments[at])) {
            ++at; // a value, even one that begins with a dash
            continue;
        }
        if (arguments[at].section(QLatin1Char('='), 0, 0) == QLatin1String("--mqtt-password"))
            return bad(QStringLiteral("--mqtt-password is not accepted: every user of this "
                                      "computer can read a command line. Put the password in "
                                      "the environment variable %1, or in a file named by "
                                      "--mqtt-password-file.")
                           .arg(QLatin1String(passwordVariable)));
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
    if (parser.isSet(recover)) {
        const QString choice = parser.value(recover);
        const QList<std::pair<QString, RecoveryChoice>> choices = {
            {QStringLiteral("ask"), RecoveryChoice::Ask},
            {QStringLiteral("resume"), RecoveryChoice::Resume},
            {QStringLiteral("end"), RecoveryChoice::End},
            {QStringLiteral("leave"), RecoveryChoice::Leave}};
        const auto found = std::find_if(choices.begin(), choices.end(),
                                        [&](const auto &c) { return c.first == choice; });
        if (found == choices.end())
            return bad(
                QStringLiteral("--recover takes resume, end, leave or ask, not '%1'.").arg(choice));
        command.options.recover = found->second;
    }
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
             {&port, &profile, &records, &autoread, &operatorName, &testId, &recover, &mqtt, &user,
              &passwordFile, &ca, &station, &overview}) {
            if (parser.isSet(*windowOption))
                return bad(QStringLiteral("--report opens no window: --%1 does not go with it.")
                               .arg(windowOption->names().constFirst()));
        }
    }

    // The broker: options first, then the settings file.
    const QString file = settingsFile();
    const QSettings stored(file, QSettings::IniFormat);
    const QDir storedFolder = QFileInfo(file).dir();
    const QList<std::pair<const QCommandLineOption *, const char *>> brokerOptions = {
        {&mqtt, "url"},
        {&user, "user"},
        {&passwordFile, "password-file"},
        {&ca, "ca"},
        {&station, "station"}};
    const auto pick = [&](const char *key) {
        const QString storedKey = QStringLiteral("mqtt/") + QLatin1String(key);
        for (const auto &[option, name] : brokerOptions) {
            if (qstrcmp(name, key) != 0 || !parser.isSet(*option))
                continue;
            QString value = parser.value(*option);
            if (!value.isEmpty() && (option == &passwordFile || option == &ca))
                value = QFileInfo(value).absoluteFilePath();
            return Setting{value, QStringLiteral("--") + option->names().constFirst(), false};
        }
        QString value = stored.value(storedKey).toString();
        if (!value.isEmpty() && (qstrcmp(key, "password-file") == 0 || qstrcmp(key, "ca") == 0))
            value = QFileInfo(storedFolder, value).absoluteFilePath();
        return Setting{value, QStringLiteral("%1 in %2").arg(storedKey, file), true};
    };
    if (parser.isSet(overview)) {
        for (const QCommandLineOption *other : {&port, &profile, &records, &autoread, &mqtt,
                                                &station, &operatorName, &testId, &recover}) {
            if (parser.isSet(*other))
                return bad(QStringLiteral("--overview opens the lab overview alone, with no "
                                          "chamber: it takes no --%1.")
                               .arg(other->names().constFirst()));
        }
    }
    if (parser.isSet(mqtt) && parser.value(mqtt).isEmpty())
        return bad(QStringLiteral("--mqtt needs a broker URL, not an empty one."));
    if (parser.isSet(overview) && parser.value(overview).isEmpty())
        return bad(QStringLiteral("--overview needs a broker URL, not an empty one."));
    const Setting url = parser.isSet(overview)
                            ? Setting{parser.value(overview), QStringLiteral("--overview"), false}
                            : pick("url");
    if (url.value.isEmpty()) {
        for (const auto &[option, name] : brokerOptions) {
            if (parser.isSet(*option))
                return bad(QStringLiteral("--%1 is for publishing to a broker: name it with "
                                          "--mqtt URL.")
                               .arg(option->names().constFirst()));
        }
        return command;
    }
    if (stored.contains(QStringLiteral("mqtt/password"))) {
        command.brokerWarning = QStringLiteral("mqtt/password in %1 is not read: keep the "
                                               "password in a file of its own, readable only by "
                                               "you, and name it with mqtt/password-file.")
                                    .arg(file);
    }
    BrokerError error;
    const std::optional<BrokerSettings> settings = brokerSettings(url, pick, error);
    if (!settings && (!error.fromFile || parser.isSet(overview)))
        return bad(error.message);
    if (!settings) {
        command.brokerWarning = error.message + QStringLiteral(". Nothing is published.");
        return command;
    }
    command.broker = *settings;
    command.overview = parser.isSet(overview);
    return command;
}

} // namespace chamber
