#include "configurator/devices/module_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "configurator/devices/analog_parameters_dialog.h"
#include "configurator/shell/control.h"
#include "configurator/shell/languages.h"
#include "configurator/shell/qt_texts.h"

namespace mbus::meridex {
namespace {

// Text numbers of the pages' captions.
enum : int {
    kTextUnitWh = 9,  // 9..12: the four pulse units
    kTextPulseInput1 = 28,
    kTextPulseInput2 = 29,
    kTextWriteSerial1 = 43,
    kTextWriteSerial2 = 44,
    kTextWriteAll1 = 45,
    kTextWriteRelay1 = 46,
    kTextWriteRelay2 = 47,
    kTextWriteAll2 = 48,
    kTextSerialNumber = 51,
    kTextMediumUnit = 52,
    kTextCountFactor = 53,
    kTextDisabled = 86,
    kTextControlInputs = 89,
    kTextRelay1 = 90,
    kTextRelay2 = 91,
    kTextStateP1 = 92,
    kTextStateP2 = 93,
    kTextStateR1 = 94,
    kTextLogic = 95,
    kTextSet0 = 96,
    kTextSet1 = 97,
    kTextPowerFail = 98,
    kTextStateR2 = 99,
    kTextValue = 100,
    kTextMin = 101,
    kTextMax = 102,
    kTextAverage = 103,
    kTextMinMax = 104,
    kTextParam = 105,
    kTextOutputCurrent = 106,
    kTextMilliampere = 107,
    kTextDegrees = 108,
    kTextAnalog1 = 109,
    kTextAnalog2 = 110,
    kTextTemperature = 111,
    kTextAnalogModule = 112,
};

constexpr int kMediumCount = 32;
constexpr int kVifCount = 128;
constexpr int kDefaultUnitEntry = 2;
constexpr int kDefaultMediumEntry = 7;

const char* const kCaptionProperty = "captionText";
const std::string kErrorMarker = "Err ";

QLineEdit* Field(int maxLength, bool readOnly = false) {
    auto* e = new QLineEdit;
    e->setMaxLength(maxLength);
    e->setReadOnly(readOnly);
    return e;
}

QGroupBox* Group(int captionText) {
    auto* g = new QGroupBox;
    g->setProperty(kCaptionProperty, captionText);
    return g;
}

// Fits a combo box to its longest entry, so no entry is cut.
void FitToContents(QComboBox* box) { box->setSizeAdjustPolicy(QComboBox::AdjustToContents); }

}  // namespace

ModulePages::ModulePages(const TextTable& texts, int languageId, QWidget* parent)
    : QWidget(parent), texts_(texts), languageId_(languageId) {
    auto* stack = new QStackedWidget;
    stack->setObjectName("pageStack");

    // The empty frame: no module identified.
    empty = Group(kTextAnalogModule);
    empty->setObjectName("emptyPage");
    empty->setProperty(kCaptionProperty, QVariant());
    empty->setTitle(QTextPlain(texts_, 25, languageId_));
    empty->setMinimumHeight(120);
    stack->addWidget(empty);

    auto* pulsePage = new QWidget;
    auto* pl = new QVBoxLayout(pulsePage);
    pl->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < 2; ++i) {
        BuildPulse(i);
        pl->addWidget(pulse[i].group);
    }
    pl->addStretch();
    stack->addWidget(pulsePage);

    auto* analogPage = new QWidget;
    auto* al = new QGridLayout(analogPage);
    al->setContentsMargins(0, 0, 0, 0);
    BuildAnalogInput(analog[0], kTextAnalog1, false);
    BuildAnalogInput(analog[1], kTextAnalog2, false);
    BuildAnalogInput(temperature, kTextTemperature, true);
    output = Group(kTextAnalogModule);
    output->setObjectName("output");
    {
        auto* g = new QGridLayout(output);
        outputCurrent = Field(10);
        outputCurrent->setMinimumWidth(outputCurrent->fontMetrics().horizontalAdvance("00000000000") + 12);
        outputCurrent->setObjectName("outputCurrent");
        writeOutput = new QPushButton(T(kTextWriteRelay2));
        writeOutput->setObjectName("writeOutput");
        g->addWidget(new QLabel(T(kTextOutputCurrent)), 0, 0);
        g->addWidget(outputCurrent, 0, 1);
        g->addWidget(new QLabel(T(kTextMilliampere)), 0, 2);
        g->addWidget(writeOutput, 1, 0, 1, 3, Qt::AlignLeft);
        g->setRowStretch(2, 1);
    }
    al->addWidget(analog[0].group, 0, 0);
    al->addWidget(analog[1].group, 0, 1);
    al->addWidget(temperature.group, 1, 0);
    al->addWidget(output, 1, 1);
    stack->addWidget(analogPage);

    auto* controlPage = new QWidget;
    auto* cl = new QVBoxLayout(controlPage);
    cl->setContentsMargins(0, 0, 0, 0);
    controlInputs = Group(kTextControlInputs);
    controlInputs->setObjectName("controlInputs");
    {
        auto* g = new QGridLayout(controlInputs);
        p1State = Field(20, true);
        p1State->setObjectName("p1State");
        p2State = Field(20, true);
        p2State->setObjectName("p2State");
        g->addWidget(new QLabel(T(kTextStateP1)), 0, 0);
        g->addWidget(p1State, 0, 1);
        g->addWidget(new QLabel(T(kTextStateP2)), 0, 2);
        g->addWidget(p2State, 0, 3);
    }
    cl->addWidget(controlInputs);
    for (int r = 0; r < 2; ++r) {
        BuildRelay(r);
        cl->addWidget(relay[r].group);
    }
    cl->addStretch();
    stack->addWidget(controlPage);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack);

    // Entering a field selects its whole text.
    for (QLineEdit* e : findChildren<QLineEdit*>())
        if (!e->isReadOnly()) e->installEventFilter(this);
    ConnectPulse(0);
    ConnectPulse(1);
    ConnectControl();
    ConnectAnalog();
    askParameters = [this](AnalogInputKind input, ParameterTexts* parameters) {
        AnalogInputWidgets& w = input == AnalogInputKind::kA1   ? analog[0]
                                : input == AnalogInputKind::kA2 ? analog[1]
                                                                : temperature;
        const ParameterTexts initial{w.a->text().toStdString(), w.b->text().toStdString(), w.c->text().toStdString()};
        MERIDEXAnaParam dialog(texts_, languageId_, input, temperature.unit->currentIndex(),
                               analogFields_.firmwareNumber, initial, this);
        if (dialog.exec() != QDialog::Accepted) return false;
        *parameters = dialog.Parameters();
        return true;
    };
    ShowPage(kPageEmpty, {});
}

bool ModulePages::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (auto* e = qobject_cast<QLineEdit*>(watched)) QTimer::singleShot(0, e, &QLineEdit::selectAll);
    }
    return QWidget::eventFilter(watched, event);
}

void ModulePages::Write(const std::string& records1, const std::string& records2) {
    emit writeRequested(QString::fromStdString(records1), QString::fromStdString(records2));
}

bool ModulePages::Refused(const std::vector<FieldEntry>& fields) {
    const std::optional<std::string> message = RefusedField(fields, languageId_);
    if (message) emit writeRefused(QString::fromStdString(*message));
    return message.has_value();
}

// ---- Pulse ------------------------------------------------------------------

PulseInputFields ModulePages::TakePulseFields(int input) const {
    const PulseInputWidgets& w = pulse[input];
    PulseInputFields f;
    f.serial = w.serial->text().toStdString();
    f.mediumEntry = w.medium->currentIndex();
    f.unitEntry = w.unit->currentIndex();
    f.counter = w.counter->text().toStdString();
    f.numerator = w.numerator->text().toStdString();
    f.denominator = w.denominator->text().toStdString();
    f.factorResult = w.factor->text().toStdString();
    return f;
}

void ModulePages::ConnectPulse(int input) {
    PulseInputWidgets& w = pulse[input];
    connect(w.serial, &QLineEdit::editingFinished, this,
            [&w] { w.serial->setText(QString::fromStdString(NormalisedSerial(w.serial->text().toStdString()))); });
    auto clamp = [this, input] {
        PulseInputFields f = TakePulseFields(input);
        ClampFactor(f, languageId_);
        PulseInputWidgets& w = pulse[input];
        w.numerator->setText(QString::fromStdString(f.numerator));
        w.denominator->setText(QString::fromStdString(f.denominator));
        w.factor->setText(QString::fromStdString(f.factorResult));
        return f;
    };
    connect(w.numerator, &QLineEdit::editingFinished, this, clamp);
    connect(w.denominator, &QLineEdit::editingFinished, this, clamp);
    connect(w.writeSerial, &QPushButton::clicked, this, [this, input, &w] {
        w.serial->setText(QString::fromStdString(NormalisedSerial(w.serial->text().toStdString())));
        Write(PulseWriteSerialText(input + 1, TakePulseFields(input)));
    });
    connect(w.writeAll, &QPushButton::clicked, this, [this, input, &w, clamp] {
        w.serial->setText(QString::fromStdString(NormalisedSerial(w.serial->text().toStdString())));
        const PulseInputFields f = clamp();
        if (Refused(PulseWriteAllFields(input + 1, f))) return;
        Write(PulseWriteAllText(input + 1, f));
    });
}

void ModulePages::ShowPulse(const PulseReadout& readout) {
    for (int i = 0; i < 2; ++i) {
        const PulseInputReadout& in = readout.input[i];
        if (!in.filled) continue;
        PulseInputWidgets& w = pulse[i];
        w.serial->setText(QString::fromStdString(in.serial));
        if (in.mediumEntry >= 0 && in.mediumEntry < w.medium->count()) w.medium->setCurrentIndex(in.mediumEntry);
        if (in.unitEntry >= 0 && in.unitEntry < w.unit->count()) w.unit->setCurrentIndex(in.unitEntry);
        w.counter->setText(QString::fromStdString(in.counter));
        w.numerator->setText(QString::fromStdString(in.numerator));
        w.denominator->setText(QString::fromStdString(in.denominator));
        w.factor->setText(QString::fromStdString(in.factorResult));
    }
}

// ---- Control ----------------------------------------------------------------

void ModulePages::ConnectControl() {
    for (int r = 0; r < 2; ++r) {
        RelayWidgets& w = relay[r];
        connect(w.logic, qOverload<int>(&QComboBox::currentIndexChanged), this, &ModulePages::RefreshRelayButtons);
        connect(w.set0, &QPushButton::clicked, this, [this, r] { Write(RelaySetText(r + 1, 0)); });
        connect(w.set1, &QPushButton::clicked, this, [this, r] { Write(RelaySetText(r + 1, 1)); });
        connect(w.write, &QPushButton::clicked, this,
                [this, r, &w] { Write(RelayWriteText(r + 1, w.logic->currentIndex(), w.powerFail->currentIndex())); });
    }
}

void ModulePages::RefreshRelayButtons() {
    for (RelayWidgets& w : relay) {
        const bool bus = SetButtonsEnabled(w.logic->currentIndex());
        w.set0->setEnabled(bus);
        w.set1->setEnabled(bus);
    }
}

void ModulePages::ShowControl(const ControlReadout& readout) {
    p1State->setText(QString::fromStdString(readout.p1));
    p2State->setText(QString::fromStdString(readout.p2));
    for (int r = 0; r < 2; ++r) {
        const RelayReadout& in = readout.relay[r];
        RelayWidgets& w = relay[r];
        w.state->setText(QString::fromStdString(in.state));
        w.logic->setCurrentIndex(in.logicEntry);
        w.powerFail->setCurrentIndex(in.powerFailEntry);
        if (in.error) MarkError(w.group);
    }
    RefreshRelayButtons();
}

// ---- Analog -----------------------------------------------------------------

void ModulePages::ConnectAnalog() {
    const std::pair<AnalogInputWidgets*, AnalogInputKind> boxes[] = {
        {&analog[0], AnalogInputKind::kA1}, {&analog[1], AnalogInputKind::kA2},
        {&temperature, AnalogInputKind::kTemperature}};
    for (auto [w, kind] : boxes) {
        connect(w->minMax, &QCheckBox::clicked, this, [this, kind](bool checked) {
            analogFields_.minMax = ToggleMinMax(analogFields_.minMax, kind, checked);
            analog[0].minMax->setChecked(MinMaxChecked(analogFields_.minMax, AnalogInputKind::kA1));
            analog[1].minMax->setChecked(MinMaxChecked(analogFields_.minMax, AnalogInputKind::kA2));
            temperature.minMax->setChecked(MinMaxChecked(analogFields_.minMax, AnalogInputKind::kTemperature));
        });
        connect(w->param, &QPushButton::clicked, this, [this, kind] { OpenParameters(kind); });
    }
    connect(temperature.unit, qOverload<int>(&QComboBox::activated), this, [this](int entry) {
        TakeAnalogFields();
        SelectSensor(analogFields_, entry, languageId_);
        ShowAnalog();
    });
    connect(analog[0].write, &QPushButton::clicked, this, [this] {
        TakeAnalogFields();
        if (Refused(AnalogParameterFields(AnalogInputKind::kA1, analogFields_))) return;
        Write(WriteA1Text(analogFields_));
    });
    connect(analog[1].write, &QPushButton::clicked, this, [this] {
        TakeAnalogFields();
        if (Refused(AnalogParameterFields(AnalogInputKind::kA2, analogFields_))) return;
        Write(WriteA2Text(analogFields_));
    });
    connect(temperature.write, &QPushButton::clicked, this, [this] {
        TakeAnalogFields();
        if (Refused(AnalogParameterFields(AnalogInputKind::kTemperature, analogFields_))) return;
        const TemperatureWrite w = WriteTemperature(analogFields_);
        Write(w.pendingRecords1, w.pendingRecords2);
    });
    connect(writeOutput, &QPushButton::clicked, this, [this] {
        TakeAnalogFields();
        if (Refused(OutputCurrentFields(analogFields_))) return;
        Write(WriteCurrentText(analogFields_));
    });
}

void ModulePages::OpenParameters(AnalogInputKind input) {
    TakeAnalogFields();
    ParameterTexts p;
    if (!askParameters || !askParameters(input, &p)) return;
    AnalogInputWidgets& w = input == AnalogInputKind::kA1   ? analog[0]
                            : input == AnalogInputKind::kA2 ? analog[1]
                                                            : temperature;
    w.a->setText(QString::fromStdString(p.a));
    w.b->setText(QString::fromStdString(p.b));
    w.c->setText(QString::fromStdString(p.c));
}

void ModulePages::TakeAnalogFields() {
    AnalogPageFields& f = analogFields_;
    for (int i = 0; i < 2; ++i) {
        AnalogInputFields& in = f.inputs[i];
        const AnalogInputWidgets& w = analog[i];
        in.unitEntry = w.unit->currentIndex();
        in.a = w.a->text().toStdString();
        in.b = w.b->text().toStdString();
        in.c = w.c->text().toStdString();
    }
    f.temperature.sensorEntry = temperature.unit->currentIndex();
    f.temperature.a = temperature.a->text().toStdString();
    f.temperature.b = temperature.b->text().toStdString();
    f.temperature.c = temperature.c->text().toStdString();
    f.current = outputCurrent->text().toStdString();
}

void ModulePages::ShowAnalog() {
    const AnalogPageFields& f = analogFields_;
    auto set = [](QLineEdit* e, const std::string& text) { e->setText(QString::fromStdString(text)); };
    for (int i = 0; i < 2; ++i) {
        const AnalogInputFields& in = f.inputs[i];
        AnalogInputWidgets& w = analog[i];
        set(w.value, in.value);
        set(w.min, in.min);
        set(w.max, in.max);
        set(w.average, in.average);
        w.unit->setCurrentIndex(in.unitEntry < w.unit->count() ? in.unitEntry : -1);
        set(w.a, in.a);
        set(w.b, in.b);
        set(w.c, in.c);
    }
    const TemperatureFields& t = f.temperature;
    set(temperature.value, t.value);
    set(temperature.min, t.min);
    set(temperature.max, t.max);
    set(temperature.average, t.average);
    temperature.unit->setCurrentIndex(t.sensorEntry);
    set(temperature.a, t.a);
    set(temperature.b, t.b);
    set(temperature.c, t.c);
    set(outputCurrent, f.current);
    analog[0].minMax->setChecked(MinMaxChecked(f.minMax, AnalogInputKind::kA1));
    analog[1].minMax->setChecked(MinMaxChecked(f.minMax, AnalogInputKind::kA2));
    temperature.minMax->setChecked(MinMaxChecked(f.minMax, AnalogInputKind::kTemperature));
}

QString ModulePages::T(int number) const { return QText(texts_, number, languageId_); }

void ModulePages::BuildPulse(int input) {
    PulseInputWidgets& w = pulse[input];
    w.group = Group(input == 0 ? kTextPulseInput1 : kTextPulseInput2);
    w.group->setObjectName(input == 0 ? "pulseInput1" : "pulseInput2");
    w.fields = new QWidget;
    auto* g = new QGridLayout(w.fields);
    g->setContentsMargins(0, 0, 0, 0);
    w.serial = Field(8);
    w.medium = new QComboBox;
    w.unit = new QComboBox;
    FitToContents(w.medium);
    FitToContents(w.unit);
    w.counter = Field(18);
    w.numerator = Field(3);
    w.denominator = Field(3);
    w.factor = Field(12, true);
    for (QLineEdit* e : {w.numerator, w.denominator}) e->setMaximumWidth(e->fontMetrics().horizontalAdvance("0000") + 16);
    w.writeSerial = new QPushButton(T(input == 0 ? kTextWriteSerial1 : kTextWriteSerial2));
    w.writeAll = new QPushButton(T(input == 0 ? kTextWriteAll1 : kTextWriteAll2));

    g->addWidget(new QLabel(T(kTextSerialNumber)), 0, 0);
    g->addWidget(w.serial, 0, 1);
    g->addWidget(w.writeSerial, 0, 2, Qt::AlignLeft);
    g->addWidget(new QLabel(T(kTextMediumUnit)), 1, 0);
    g->addWidget(w.medium, 1, 1);
    g->addWidget(w.unit, 1, 2, 1, 2);
    g->addWidget(new QLabel(T(kTextCountFactor)), 2, 0);
    g->addWidget(w.counter, 2, 1);
    auto* factor = new QHBoxLayout;
    factor->addWidget(w.numerator);
    factor->addWidget(new QLabel("/"));
    factor->addWidget(w.denominator);
    factor->addWidget(new QLabel("="));
    factor->addWidget(w.factor);
    g->addLayout(factor, 2, 2, 1, 2);
    g->addWidget(w.writeAll, 3, 0, 1, 2, Qt::AlignLeft);
    g->setColumnStretch(3, 1);

    auto* outer = new QVBoxLayout(w.group);
    outer->addWidget(w.fields);
}

void ModulePages::BuildRelay(int r) {
    RelayWidgets& w = relay[r];
    w.group = Group(r == 0 ? kTextRelay1 : kTextRelay2);
    w.group->setObjectName(r == 0 ? "relay1" : "relay2");
    auto* g = new QGridLayout(w.group);
    w.state = Field(30, true);
    w.logic = new QComboBox;
    w.powerFail = new QComboBox;
    FitToContents(w.logic);
    FitToContents(w.powerFail);
    w.set0 = new QPushButton(T(kTextSet0));
    w.set1 = new QPushButton(T(kTextSet1));
    w.write = new QPushButton(T(r == 0 ? kTextWriteRelay1 : kTextWriteRelay2));
    g->addWidget(new QLabel(T(r == 0 ? kTextStateR1 : kTextStateR2)), 0, 0);
    g->addWidget(w.state, 0, 1);
    g->addWidget(w.set0, 0, 2);
    g->addWidget(w.set1, 0, 3);
    g->addWidget(new QLabel(T(kTextLogic)), 1, 0);
    g->addWidget(w.logic, 1, 1);
    g->addWidget(new QLabel(T(kTextPowerFail)), 2, 0);
    g->addWidget(w.powerFail, 2, 1);
    g->addWidget(w.write, 2, 2, 1, 2);
    g->setColumnStretch(4, 1);
}

void ModulePages::BuildAnalogInput(AnalogInputWidgets& w, int captionText, bool isTemperature) {
    w.group = Group(captionText);
    w.group->setObjectName(captionText == kTextAnalog1 ? "analog1" : captionText == kTextAnalog2 ? "analog2" : "temperature");
    auto* g = new QGridLayout(w.group);
    w.value = Field(20, true);
    w.min = Field(20, true);
    w.max = Field(20, true);
    w.average = Field(20, true);
    w.minMax = new QCheckBox(T(kTextMinMax));
    w.unit = new QComboBox;
    FitToContents(w.unit);
    w.param = new QPushButton(T(kTextParam));
    w.a = Field(10);
    w.b = Field(10);
    w.c = Field(10);
    w.write = new QPushButton(T(captionText == kTextAnalog1 ? kTextWriteSerial1
                                : captionText == kTextAnalog2 ? kTextWriteSerial2
                                                              : kTextWriteRelay1));
    const int labels[] = {kTextValue, kTextMin, kTextMax, kTextAverage};
    QLineEdit* fields[] = {w.value, w.min, w.max, w.average};
    for (int i = 0; i < 4; ++i) {
        // Values show with their decimals ("-1234567,89"): room for a large one.
        fields[i]->setMinimumWidth(fields[i]->fontMetrics().horizontalAdvance("-0000000000.00") + 12);
        g->addWidget(new QLabel(T(labels[i])), i, 0);
        g->addWidget(fields[i], i, 1, 1, 3);
        if (isTemperature) g->addWidget(new QLabel(T(kTextDegrees)), i, 4);
    }
    // The unit or sensor box has a row of its own, so that its longest
    // entry does not widen the value columns; the parameters a, b and c are
    // as wide as their ten characters.
    g->addWidget(w.minMax, 4, 0, 1, 4, Qt::AlignLeft);
    g->addWidget(w.unit, 5, 0, 1, 4);
    g->addWidget(w.param, 6, 0);
    int column = 1;
    for (QLineEdit* e : {w.a, w.b, w.c}) {
        e->setMaximumWidth(e->fontMetrics().horizontalAdvance(QString(10, QLatin1Char('0'))) + 16);
        g->addWidget(e, 6, column++);
    }
    g->addWidget(w.write, 7, 0, 1, 4, Qt::AlignLeft);
    g->setRowStretch(8, 1);
}

void ModulePages::FillLists(const Control& control, int controlLanguage) {
    for (int i = 0; i < 2; ++i) {
        PulseInputWidgets& w = pulse[i];
        w.medium->clear();
        for (int m = 0; m < kMediumCount; ++m) {
            // The second input can be switched off: its last medium entry reads "Disabled".
            if (i == 1 && m == kMediumCount - 1)
                w.medium->addItem(T(kTextDisabled));
            else
                w.medium->addItem(QString::fromStdString(control.LNGMediumVar(controlLanguage, m)));
        }
        w.unit->clear();
        for (int t = 0; t < 4; ++t) w.unit->addItem(T(kTextUnitWh + t));
    }
    for (QComboBox* box : {pulse[0].unit, pulse[1].unit, analog[0].unit, analog[1].unit}) {
        if (box == analog[0].unit || box == analog[1].unit) box->clear();
        for (int v = 0; v < kVifCount; ++v)
            box->addItem(QString::asprintf("%02X ", v) + QString::fromStdString(control.LNGVIF(controlLanguage, v)));
    }
    for (RelayWidgets& r : relay) {
        r.logic->clear();
        for (std::string_view t : kLogicTexts) r.logic->addItem(QString::fromLatin1(t.data(), int(t.size())));
        r.powerFail->clear();
        for (std::string_view t : kPowerFailTexts) r.powerFail->addItem(QString::fromLatin1(t.data(), int(t.size())));
    }
    temperature.unit->clear();
    for (std::string_view t : kSensorTexts) temperature.unit->addItem(QString::fromLatin1(t.data(), int(t.size())));

    for (QComboBox* box : {pulse[0].unit, pulse[1].unit, analog[0].unit, analog[1].unit})
        box->setCurrentIndex(kDefaultUnitEntry);
    for (QComboBox* box : {pulse[0].medium, pulse[1].medium}) box->setCurrentIndex(kDefaultMediumEntry);
}

void ModulePages::SetCaption(QGroupBox* group, const std::string& label) {
    const QVariant number = group->property(kCaptionProperty);
    if (!number.isValid()) return;
    const std::string text = Text(texts_, number.toInt(), languageId_);
    std::string caption = CaptionWithVersion(text, label == kErrorMarker ? std::string() : label);
    if (label == kErrorMarker) {
        // The marker goes in where the version label would stand.
        const std::size_t at = text.find("<!!>");
        if (at != std::string::npos) caption.insert(std::min(at, caption.size()), kErrorMarker);
    }
    // A caption shows no accelerator: "&" is kept as it is.
    QString shown = QString::fromStdString(caption);
    shown.replace("&", "&&");
    group->setTitle(shown);
}

void ModulePages::MarkError(QGroupBox* group) { SetCaption(group, kErrorMarker); }

void ModulePages::ShowPage(PageType page, const std::string& versionText) {
    page_ = page;
    versionText_ = versionText;
    auto* stack = findChild<QStackedWidget*>("pageStack");
    int index = 0;
    switch (page) {
        case kPagePulseInput1:
        case kPagePulseInput2:
        case kPagePulseBoth: index = 1; break;
        case kPageAnalog: index = 2; break;
        case kPageControl: index = 3; break;
        default: index = 0; break;
    }
    stack->setCurrentIndex(index);
    // A stack is as large as its largest page unless the others ignore
    // their size.
    for (int i = 0; i < stack->count(); ++i) {
        const QSizePolicy::Policy policy = i == index ? QSizePolicy::Preferred : QSizePolicy::Ignored;
        stack->widget(i)->setSizePolicy(policy, policy);
    }
    pulse[0].fields->setVisible(page == kPagePulseInput1 || page == kPagePulseBoth);
    pulse[1].fields->setVisible(page == kPagePulseInput2 || page == kPagePulseBoth);
    for (QGroupBox* g : findChildren<QGroupBox*>()) SetCaption(g, versionText);
    emit pageChanged();
}

void ModulePages::ClearReadoutFields() {
    for (PulseInputWidgets& w : pulse)
        for (QLineEdit* e : {w.serial, w.counter, w.numerator, w.denominator, w.factor}) e->clear();
    for (QLineEdit* e : {p1State, p2State, relay[0].state, relay[1].state, outputCurrent}) e->clear();
    for (AnalogInputWidgets* w : {&analog[0], &analog[1], &temperature})
        for (QLineEdit* e : {w->value, w->min, w->max, w->average}) e->clear();
}

}  // namespace mbus::meridex
