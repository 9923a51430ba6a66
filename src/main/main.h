// The main window "Temperature controller": the whole operator interface and its handlers.
#pragma once

#include "dialogs/recoverydialog.h"
#include "link/pendingwrite.h"
#include "link/seriallink.h"
#include "recovery/runstanding.h"
#include "run/runfact.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QLine>
#include <QWidget>

#include <array>
#include <functional>
#include <limits>
#include <optional>
#include <utility>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

namespace chamber {

class Band;
class ConditionWatch;
class Notice;
class RunFeed;
class ManualRecord;
class RecordView;
class ReportMaker;
class RunRecord;
class TrendPlot;
struct Reply;
struct StartOptions;

// A line shape of the static profile diagram: end points in twips, thickness in pixels.
struct LineShape
{
    QLine twipsLine;
    int thickness;
};

class main : public QWidget
{
    Q_OBJECT
public:
    explicit main(SerialLink *link, QWidget *parent = nullptr);

    // Scans the ports and fills portselect; called once after construction, before show().
    void Form_Load();

    // Window events, public so that tests can drive them as the toolkit would.
    void Timer1_Timer();
    void rs232_DataArrival();
    void rs232_PortLost();
    void portselect_Click();
    void Command1_Click(int Index);
    void cyclerun_Click();
    void cycles_DblClick(int Index);
    void rampenable_Click(int Index);

    int portselect_KeyPress(int KeyAscii);
    int setpoint_KeyPress(int KeyAscii);
    int setpoints_KeyPress(int Index, int KeyAscii);
    int dwells_KeyPress(int Index, int KeyAscii);
    int cycles_KeyPress(int Index, int KeyAscii);
    void setpoint_LostFocus();
    void setpoints_LostFocus(int Index);
    void dwells_LostFocus(int Index);
    void cycles_LostFocus(int Index);

    // After Form_Load and show(): the profile, the port and "Auto" that the command line asks for.
    void applyStartOptions(const StartOptions &options);
    // The right-click menu of the window's background and of the trend plot.
    void fillContextMenu(QMenu &menu);
    // Loads a profile file into the profile fields as if the operator had typed it. On any fault
    // one alert names the file and what is wrong, and no field changes.
    bool loadProfile(const QString &path);
    // Where run records go; by default the "runs" folder in the application's data folder.
    void setRecordsFolder(const QString &folder);
    QString recordsFolder() const;
    // The program that makes each run's report from its record ("chamberctl --report"); none
    // is made until it is set.
    void setReportProgram(const QString &program);
    // After the port scan: the last run record, when its run did not end, taken up again, ended
    // at the rest setpoint or left as it is; Ask offers the three (src/main/recovery.cpp).
    void offerRecovery(RecoveryChoice choice);
    // Who runs the tests and under which test ID, for the records of the runs to come.
    void setRunSigner(const QString &operatorName, const QString &testId);

    // Every fact of the line and of each run goes out here, to whatever reads it.
    RunFeed *runFeed() const;
    // The band below the cycle row: readers add their lines of news to it.
    Band *lowerBand() const;

    // The profile diagram, drawn beneath the controls.
    std::array<LineShape, 8> Line1{};
    std::array<LineShape, 2> Line2{};
    std::array<LineShape, 8> Line3{};

signals:
    // A port was opened (its name) or let go (empty).
    void portChanged(const QString &port);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void createControls();
    void portscan(std::array<QString, 101> &datalist);
    void Form_QueryUnload();
    void Form_Unload();

    // The setpoint a run ends at, whatever ended it: 25.0 degrees C.
    static constexpr double restSetpointTenths = 250;

    void transmit(const QString &mode, double dataout);
    void comwrite(const QByteArray &datain, int timetowait);
    void process(int Index, const QString &datain, int destinationx, int timeoutx, int delayx);
    // After the tick's poll: a setpoint write whose echo has not come goes out again.
    void resendSetpoint();

    void startcycle();
    void stopcycle();
    // Locks the profile, the manual commands, the port list and the ramp boxes for a run, or
    // gives them back.
    void lockProfile(bool locked);
    // Lets go of a port that failed, on opening or while open: closed, not ready, a run on it
    // ended, "Select" chosen, and the operator told once with the error's report.
    void dropPort(const ErrorRecord &error);
    void takeStep(int step);
    void approachStart(int point, int nextStep);
    bool approachTest(int point) const;
    void dwellStart(int point);

    void registerNumericFields();
    bool portselectFilter(QObject *watched, QEvent *event);
    void createProfileShortcuts();
    bool profileLocked() const;
    void openProfile();
    void saveProfile();
    QString chooseProfileFile(const QString &title);
    void applyProfile(const Profile &profile);
    Profile fieldsProfile();
    void choosePort(const QString &name);

    void normalise(QLineEdit *field, int decimals, bool limited);
    int numericFieldKeyPress(QLineEdit *field, int decimals, bool limited, int KeyAscii);

    // The facts told to the readers, and the watch for a silent controller (src/main/history.cpp).
    struct RunEnding
    {
        QString reason;
        int run;
    };
    void createHistory();
    void placeHistory();
    RunFact factNow(RunFact::Kind kind, const QString &text = {}) const;
    void tell(RunFact::Kind kind, const QString &text = {});
    void noteReply(const Reply &reply);
    void noteSent(const QByteArray &frame);
    void notePoll();
    void noteWrite(const PendingWrite::Verdict &verdict);
    void notePollingOff();
    void notePhase();
    void noteCycle();
    // The run or the manual work begun now: program, port, device, profile and who runs it.
    RunSetup setupNow() const;
    void beginRun();
    RunEnding runEnding(const QString &reason = {}) const;
    void endRun(const RunEnding &ending);
    void silenceEnds();
    // The profile as the fields show it, with the conditions set for the next run.
    Profile shownProfile() const;
    // Unattended runs: the watch over the conditions and its readers (src/main/unattended.cpp).
    void createConditions();
    void editConditions();
    void endByAlarm();
    // The right-click menu and its commands (src/main/contextmenu.cpp).
    void showContextMenu(const QPoint &globalPos);
    void savePlot(bool pdf);
    void openRunRecord();
    void openRecordsFolder();
    // A run that the program ended without ending (src/main/recovery.cpp).
    void recover(const RunStanding &standing, RecoveryChoice choice);
    bool openRecordedPort(const RunStanding &standing);
    void resumeRun(const RunStanding &standing);
    void beginResumedRun(const RunStanding &standing);
    void endAfterRestart(const RunStanding &standing);

    SerialLink *rs232;

    // The handlers of each numeric field, found by its widget when an event arrives.
    struct NumericField
    {
        std::function<int(int KeyAscii)> keyPress;
        std::function<void()> lostFocus;
        std::function<void()> dblClick; // only the cycles fields have one
    };
    QHash<const QObject *, NumericField> numericFields;

    std::array<QPushButton *, 2> Command1{};
    QCheckBox *autoread = nullptr;
    QLineEdit *tmult = nullptr;
    QCheckBox *autosamples = nullptr;
    QLineEdit *setpoint = nullptr;
    QLineEdit *currenttemp = nullptr;
    std::array<QLabel *, 4> Label1{};
    QLineEdit *errorcount = nullptr;
    QComboBox *portselect = nullptr;
    std::array<QLineEdit *, 4> setpoints{};
    std::array<QCheckBox *, 2> rampenable{};
    std::array<QLineEdit *, 4> dwells{};
    std::array<QLineEdit *, 2> cycles{};
    QCheckBox *cyclerun = nullptr;
    QLineEdit *cyclemode = nullptr;
    QLineEdit *countdown = nullptr;
    QTimer *Timer1 = nullptr;

    bool portready = false;
    QByteArray rxbuffer;
    bool portok = false;
    int cyclestep = 0;
    qint64 dwellcount = 0;
    int tickcount = 0;
    bool atSetpoint = false; // the approach began at its setpoint: the point counts as reached
    int runPoint = -1;       // the point approached or held, 0 to 3; -1 before the first

    // Re-entrancy. There is one thread, but four places process pending events while they run:
    // the 50 ms pause after every command (delay), the reply decoder (process), the modal alert
    // and the start-up scan; the right-click menu and the dialogs it opens are modal loops too.
    // Inside them any handler can run nested: the tick, a reply, a click, the window closing.
    // Every handler therefore reads the fields and flags it needs afresh after such a call, and
    // these guards cover what re-reading cannot:
    // - inTick: a tick is inside its poll or step. A tick that falls due inside its pause keeps
    //   the dwell clock but neither polls nor steps, since a nested step would repeat the outer
    //   one before it has stored its next cyclestep.
    // - runsBegun: counts startcycle. A stop or step resuming after a pause in which "Run" was
    //   ticked again leaves the new run alone instead of ending it or overwriting its step.
    // - losingPort: the run is being ended because its port was lost; its stop sends nothing and
    //   raises no alert of its own, since the loss is reported.
    // - the alert's open flag (basicutilities): an alert asked for while one is open returns
    //   false at once; news that must not be lost waits for it (alertWhenFree).
    // - PumpScope (basicutilities): counts the pumping places on the stack, so that closing the
    //   window inside one ends the program at once instead of unwinding into a handler that
    //   might still send a command.
    bool inTick = false;
    int runsBegun = 0;
    bool losingPort = false;
    QString profileFolder; // where the file selection dialog was last left

    RunFeed *feed = nullptr;
    Band *band = nullptr;
    TrendPlot *trend = nullptr;
    Notice *noReply = nullptr;
    Notice *setpointUnconfirmed = nullptr;
    RunRecord *runRecord = nullptr;
    ReportMaker *reports = nullptr;
    ManualRecord *manualRecord = nullptr;
    RecordView *trendViews = nullptr; // the live trend, or a past record over it
    RunConditions runConditions;      // for the runs to come; they travel with the profile
    ConditionWatch *watch = nullptr;
    bool alarmEnding = false; // the run is being ended by an alarm
    // The file last loaded and the profile it gave, to name the file in a run's record for as long
    // as the fields still hold that profile.
    std::optional<std::pair<QString, Profile>> loadedProfile;
    QString runOperator;
    QString runTestId;
    // degrees C; NaN until the first setpoint has gone out
    double lastSetpointSent = std::numeric_limits<double>::quiet_NaN();
    int unansweredPolls = -1;  // polls since the last decoded reply; -1 while not polling
    QDateTime lastHeard;       // the last decoded reply, or the moment polling began
    bool silent = false;       // the controller is shown as not answering
    bool runCompleted = false; // the step machine ended the run after its last cycle
    PendingWrite pendingWrite; // the last setpoint written, until its echo confirms it
    bool resending = false;    // the setpoint frame about to go out is a resend
    int setpointsSent = 0;     // setpoint frames that went out on the line, resends aside
    // A run taken up again after a restart: "Run" ticked for it resumes it instead of beginning a
    // new one; its point is approached again once a reading has come, and its dwell is what was
    // left of it.
    std::optional<RunStanding> resuming;
    int resumePoint = -1;
    bool resumeHeard = false;
    std::optional<qint64> resumeDwell;
};

} // namespace chamber
