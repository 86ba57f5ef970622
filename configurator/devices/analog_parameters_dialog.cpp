#include "configurator/devices/analog_parameters_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "configurator/shell/qt_texts.h"

namespace mbus::meridex {
namespace {

enum : int {
    kTextOk = 61,
    kTextCancel = 62,
    kTextTitle = 113,
    kTextExplanation = 114,
    kTextCalculate = 115,
    kTextReset = 116,
    kTextExampleTemperature = 118,
};

// Characters of the point and parameter fields.
constexpr int kFieldLength = 10;
// The explanation wraps at about this many average characters.
constexpr int kExplanationChars = 52;

// The system menu's calculator works as for a module with this firmware.
constexpr int kSystemMenuFirmware = 1;

QLabel* PlainLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLineEdit* NumberField() {
    auto* e = new QLineEdit;
    e->setMaxLength(kFieldLength);
    // Room for every character the field takes, and the frame.
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QString(kFieldLength + 1, QLatin1Char('0'))) + 12);
    return e;
}

}  // namespace

MERIDEXAnaParam::MERIDEXAnaParam(const TextTable& texts, int languageId, AnalogInputKind input, int sensorEntry,
                                 int firmwareNumber, const ParameterTexts& initial, QWidget* parent)
    : QDialog(parent), texts_(texts) {
    context_.input = input;
    context_.sensorEntry = sensorEntry;
    context_.firmwareNumber = firmwareNumber;
    context_.languageId = languageId;
    showMessage = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::warning(parent, title, text);
    };

    setWindowTitle(QTextPlain(texts_, kTextTitle, languageId));
    auto* main = new QVBoxLayout(this);

    QString explanation = T(kTextExplanation);
    if (input == AnalogInputKind::kTemperature) explanation += T(kTextExampleTemperature);
    explanation_ = PlainLabel(explanation);
    explanation_->setObjectName(QStringLiteral("explanation"));
    explanation_->setWordWrap(true);
    explanation_->setMinimumWidth(explanation_->fontMetrics().averageCharWidth() * kExplanationChars);
    main->addWidget(explanation_);
    main->addSpacing(8);

    // The calibration points: raw value and measured value side by side.
    auto* points = new QGridLayout;
    x1_ = NumberField();
    x2_ = NumberField();
    y1_ = NumberField();
    y2_ = NumberField();
    x1_->setObjectName(QStringLiteral("x1"));
    x2_->setObjectName(QStringLiteral("x2"));
    y1_->setObjectName(QStringLiteral("y1"));
    y2_->setObjectName(QStringLiteral("y2"));
    const struct {
        const char* caption;
        QLineEdit* field;
        int row, column;
    } pointFields[] = {
        {"X1:", x1_, 0, 0}, {"Y1:", y1_, 0, 3}, {"X2:", x2_, 1, 0}, {"Y2:", y2_, 1, 3},
    };
    for (const auto& p : pointFields) {
        QLabel* label = PlainLabel(QString::fromLatin1(p.caption));
        label->setBuddy(p.field);
        points->addWidget(label, p.row, p.column);
        points->addWidget(p.field, p.row, p.column + 1);
    }
    points->setColumnMinimumWidth(2, 16);  // between the raw and the measured values
    points->setColumnStretch(5, 1);
    points->setHorizontalSpacing(8);
    main->addLayout(points);
    main->addSpacing(8);

    // The parameters of value = a / b * x + c, filled by the button before them.
    calculate_ = new QPushButton(T(kTextCalculate));
    calculate_->setObjectName(QStringLiteral("calculate"));
    calculate_->setAutoDefault(false);
    main->addWidget(calculate_, 0, Qt::AlignLeft);
    auto* parameters = new QHBoxLayout;
    a_ = NumberField();
    b_ = NumberField();
    c_ = NumberField();
    a_->setObjectName(QStringLiteral("a"));
    b_->setObjectName(QStringLiteral("b"));
    c_->setObjectName(QStringLiteral("c"));
    const struct {
        const char* caption;
        QLineEdit* field;
    } parameterFields[] = {{"a:", a_}, {"b:", b_}, {"c:", c_}};
    for (const auto& p : parameterFields) {
        QLabel* label = PlainLabel(QString::fromLatin1(p.caption));
        label->setBuddy(p.field);
        parameters->addWidget(label);
        parameters->addWidget(p.field);
        parameters->addSpacing(8);
    }
    parameters->addStretch(1);
    main->addLayout(parameters);
    QLabel* rule = PlainLabel(QStringLiteral("Y = a / b \u00B7 X + c"));
    rule->setObjectName(QStringLiteral("rule"));
    main->addWidget(rule);
    main->addSpacing(8);

    auto* buttons = new QHBoxLayout;
    reset_ = new QPushButton(T(kTextReset));
    reset_->setObjectName(QStringLiteral("reset"));
    reset_->setAutoDefault(false);
    ok_ = new QPushButton(T(kTextOk));
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    cancel_ = new QPushButton(T(kTextCancel));
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    // OK and Cancel as wide as the wider caption needs, with some air.
    const int buttonWidth = std::max(ok_->sizeHint().width(), cancel_->sizeHint().width()) +
                            2 * cancel_->fontMetrics().averageCharWidth();
    ok_->setMinimumWidth(buttonWidth);
    cancel_->setMinimumWidth(buttonWidth);
    // Calculate and Reset with the same air around their captions.
    for (QPushButton* b : {calculate_, reset_})
        b->setMinimumWidth(b->sizeHint().width() + 2 * b->fontMetrics().averageCharWidth());
    buttons->addWidget(reset_);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    main->addLayout(buttons);

    connect(calculate_, &QPushButton::clicked, this, &MERIDEXAnaParam::Calculate);
    connect(reset_, &QPushButton::clicked, this, &MERIDEXAnaParam::Reset);
    connect(ok_, &QPushButton::clicked, this, &MERIDEXAnaParam::accept);
    connect(cancel_, &QPushButton::clicked, this, &MERIDEXAnaParam::reject);

    SetParameters(initial);
}

std::unique_ptr<MERIDEXAnaParam> MERIDEXAnaParam::ForSystemMenu(const TextTable& texts, int languageId,
                                                                QWidget* parent) {
    AnalogParameterContext context;
    context.input = AnalogInputKind::kA1;
    context.languageId = languageId;
    auto dialog = std::make_unique<MERIDEXAnaParam>(texts, languageId, AnalogInputKind::kA1, kSensorPt100,
                                                    kSystemMenuFirmware, ResetParameters(context), parent);
    dialog->copiesToPage_ = false;
    return dialog;
}

QString MERIDEXAnaParam::T(int number) const { return QText(texts_, number, context_.languageId); }

ParameterTexts MERIDEXAnaParam::Parameters() const {
    return {a_->text().toStdString(), b_->text().toStdString(), c_->text().toStdString()};
}

CalibrationTexts MERIDEXAnaParam::Points() const {
    return {x1_->text().toStdString(), x2_->text().toStdString(), y1_->text().toStdString(),
            y2_->text().toStdString()};
}

void MERIDEXAnaParam::SetParameters(const ParameterTexts& parameters) {
    a_->setText(QString::fromStdString(parameters.a));
    b_->setText(QString::fromStdString(parameters.b));
    c_->setText(QString::fromStdString(parameters.c));
}

void MERIDEXAnaParam::SetPoints(const CalibrationTexts& points) {
    x1_->setText(QString::fromStdString(points.x1));
    x2_->setText(QString::fromStdString(points.x2));
    y1_->setText(QString::fromStdString(points.y1));
    y2_->setText(QString::fromStdString(points.y2));
}

void MERIDEXAnaParam::Calculate() {
    const CalculationResult result = CalculateParameters(context_, Points());
    SetPoints(result.points);
    SetParameters(result.parameters);
}

void MERIDEXAnaParam::Reset() {
    SetParameters(ResetParameters(context_));
    SetPoints({});
}

void MERIDEXAnaParam::accept() {
    if (Points().AnyFilled()) Calculate();
    ParameterTexts parameters = Parameters();
    const bool ok = CheckParameters(context_, parameters);
    SetParameters(parameters);  // empty fields now read 9999
    if (!ok) {
        if (showMessage) showMessage(this, QTextPlain(texts_, kTextTitle, context_.languageId),
                                     QText(texts_, kTextParametersOutOfRange, context_.languageId));
        return;
    }
    QDialog::accept();
}

}  // namespace mbus::meridex
