// The "Run conditions" dialog: its rows, and the check of what it holds by the file's own rules.
#include "dialogs/conditionsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

namespace chamber {

namespace {

struct RowDesign
{
    const char *key;
    const char *caption; // of the box
    const char *unit;    // after the field; none for a box alone
    const char *name;    // in an error: what the operator knows the row by
};

constexpr std::array<RowDesign, 5> design{{
    {"tolerance_c", "Tolerance band: setpoint ±", "°C", "the tolerance"},
    {"guaranteed_soak", "Guaranteed soak: a dwell second counts only in the band", nullptr,
     "the guaranteed soak"},
    {"approach_limit_s", "Alarm when a setpoint is not reached within", "s", "the approach limit"},
    {"deviation_delay_s", "Alarm when a dwell's reading is out of the band for more than", "s",
     "the deviation delay"},
    {"silence_limit_s", "Alarm when the controller has not answered for", "s", "the silence limit"},
}};

QString shown(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'g', QLocale::FloatingPointShortest) : QString();
}

} // namespace

ConditionsDialog::ConditionsDialog(const RunConditions &conditions, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Run conditions"));
    auto *grid = new QGridLayout(this);
    auto *intro = new QLabel(QStringLiteral("What the runs of this profile are held to. Each "
                                            "condition is off unless ticked."),
                             this);
    intro->setWordWrap(true);
    grid->addWidget(intro, 0, 0, 1, 3);
    const std::array<std::optional<double>, 5> values = {
        conditions.toleranceC, std::nullopt, conditions.approachLimitS, conditions.deviationDelayS,
        conditions.silenceLimitS};
    for (int i = 0; i < int(rows.size()); ++i) {
        Row &row = rows[i];
        row.key = QLatin1String(design[i].key);
        row.label = QString::fromUtf8(design[i].name);
        row.box = new QCheckBox(QString::fromUtf8(design[i].caption), this);
        row.box->setObjectName(row.key);
        grid->addWidget(row.box, i + 1, 0, 1, design[i].unit ? 1 : 3);
        if (!design[i].unit) {
            row.box->setChecked(conditions.guaranteedSoak);
            continue;
        }
        row.field = new QLineEdit(shown(values[i]), this);
        row.field->setObjectName(row.key + QStringLiteral("_value"));
        row.field->setAccessibleName(QString::fromUtf8(design[i].caption));
        row.box->setChecked(bool(values[i]));
        row.field->setEnabled(bool(values[i]));
        connect(row.box, &QCheckBox::toggled, row.field, &QWidget::setEnabled);
        grid->addWidget(row.field, i + 1, 1);
        grid->addWidget(new QLabel(QString::fromUtf8(design[i].unit), this), i + 1, 2);
    }
    const int last = int(rows.size()) + 1;
    grid->addWidget(new QLabel(QStringLiteral("On an alarm"), this), last, 0);
    onAlarm = new QComboBox(this);
    onAlarm->setObjectName(QStringLiteral("on_alarm"));
    onAlarm->addItems({QStringLiteral("continue the run"),
                       QStringLiteral("end the run, sending the rest setpoint")});
    onAlarm->setCurrentIndex(conditions.endOnAlarm ? 1 : 0);
    grid->addWidget(onAlarm, last, 1, 1, 2);

    error = new QLabel(this);
    error->setObjectName(QStringLiteral("error"));
    error->setWordWrap(true);
    QPalette red = error->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    error->setPalette(red);
    error->hide();
    grid->addWidget(error, last + 1, 0, 1, 3);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ConditionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    grid->addWidget(buttons, last + 2, 0, 1, 3);
}

void ConditionsDialog::accept()
{
    // The object a profile file would hold, so that one set of rules judges both.
    QJsonObject object;
    for (const Row &row : rows) {
        if (!row.box->isChecked())
            continue;
        if (!row.field) {
            object.insert(row.key, true);
            continue;
        }
        bool number = false;
        const QString text = row.field->text().trimmed();
        const double value = text.toDouble(&number);
        // text goes in as text, which the rules refuse by name
        object.insert(row.key, number ? QJsonValue(value) : QJsonValue(text));
    }
    if (onAlarm->currentIndex() == 1)
        object.insert(QStringLiteral("on_alarm"), QStringLiteral("end"));
    QString message;
    const std::optional<RunConditions> parsed = parseConditions(object, message);
    if (!parsed) {
        // The file's words, with each key as the row is known here.
        message.remove(QStringLiteral("\"conditions\": "));
        for (const Row &row : rows)
            message.replace(QLatin1Char('"') + row.key + QLatin1Char('"'), row.label);
        if (!message.isEmpty())
            message[0] = message[0].toUpper();
        error->setText(message + QLatin1Char('.'));
        error->show();
        return;
    }
    chosen = *parsed;
    QDialog::accept();
}

} // namespace chamber

#include "moc_conditionsdialog.cpp"
