// chamberctl: start-up of the operator program for the temperature chamber.
#include "broker/brokerpublisher.h"
#include "link/qtseriallink.h"
#include "main/commandline.h"
#include "main/main.h"
#include "report/runreport.h"
#include "overview/overview.h"
#include "util/basicutilities.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // names the data folder (~/.local/share/chamberctl) and what --version prints
    QCoreApplication::setApplicationName(QStringLiteral("chamberctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CHAMBERCTL_VERSION));

    // Read before QApplication exists, so that --help, --version and a bad option need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const chamber::CommandLine command = chamber::parseCommandLine(arguments);
    if (command.exitStatus) {
        std::fputs(command.output.toLocal8Bit().constData(), stdout);
        std::fputs(command.errors.toLocal8Bit().constData(), stderr);
        return *command.exitStatus;
    }

    if (!command.reportRecord.isEmpty()) {
        // the plot is drawn by a widget, but nothing is shown: no display is needed
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        QString message;
        const chamber::ReportStatus status = chamber::writeRunReport(
            command.reportRecord, chamber::reportFiles(command.reportRecord, command.reportOutput),
            message);
        if (status == chamber::ReportWritten)
            std::fputs(message.toLocal8Bit().constData(), stdout); // the files written
        else
            std::fprintf(stderr, "chamberctl: %s\n", message.toLocal8Bit().constData());
        return status;
    }

    QApplication app(argc, argv);
    if (command.overview) {
        chamber::Overview overview(command.broker);
        overview.show();
        return app.exec();
    }
    chamber::QtSerialLink link;
    chamber::main window(&link);
    window.setReportProgram(QCoreApplication::applicationFilePath());
    if (command.broker.enabled())
        chamber::attachBroker(window, command.broker);
    window.Form_Load();
    window.show();
    window.applyStartOptions(command.options);
    if (!command.brokerWarning.isEmpty()) {
        chamber::basicutilities::alertWhenFree(QStringLiteral("Broker error"),
                                               command.brokerWarning, 0);
    }
    return app.exec();
}
