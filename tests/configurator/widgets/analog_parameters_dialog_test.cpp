// The Analog module's parameter dialog under Qt's offscreen platform: the
// buttons fill and reset the fields, OK refuses parameters out of range
// through the message hook, each language shows its one decimal separator
// and reads either, and no caption is cut in any of the six languages.
//
// With MERIDEX_SHOT_DIR set, the caption test also saves a picture of the
// dialog for each language and input there.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <string>
#include <vector>

#include "configurator/devices/analog_parameters_dialog.h"
#include "configurator/shell/qt_texts.h"
#include "configurator/shell/text_table.h"
#include "tests/configurator/widgets/fit_check.h"

// Failure messages show texts, not their UTF-16 units.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace mbus::meridex {
namespace {

constexpr int kEnglish = 1;
constexpr int kGerman = 49;
const int kAllLanguages[] = {49, 1, 33, 55, 46, 7};

struct Message {
    QString title;
    QString text;
};

class AnalogParametersDialog : public ::testing::Test {
protected:
    std::unique_ptr<MERIDEXAnaParam> Make(int languageId, AnalogInputKind input, int firmware = 1,
                                          ParameterTexts initial = {"1", "1", "0"}, int sensor = kSensorPt100) {
        auto d = std::make_unique<MERIDEXAnaParam>(texts_, languageId, input, sensor, firmware, initial);
        Record(*d);
        return d;
    }
    void Record(MERIDEXAnaParam& d) {
        d.showMessage = [this](QWidget*, const QString& title, const QString& text) {
            messages_.push_back({title, text});
        };
    }
    static void Type(MERIDEXAnaParam& d, const char* x1, const char* x2, const char* y1, const char* y2) {
        d.X1Edit()->setText(QString::fromUtf8(x1));
        d.X2Edit()->setText(QString::fromUtf8(x2));
        d.Y1Edit()->setText(QString::fromUtf8(y1));
        d.Y2Edit()->setText(QString::fromUtf8(y2));
    }
    static void SetParameters(MERIDEXAnaParam& d, const char* a, const char* b, const char* c) {
        d.AEdit()->setText(QString::fromUtf8(a));
        d.BEdit()->setText(QString::fromUtf8(b));
        d.CEdit()->setText(QString::fromUtf8(c));
    }

    TextTable texts_;
    std::vector<Message> messages_;
};

TEST_F(AnalogParametersDialog, CalculateFillsTheParameters) {
    auto d = Make(kEnglish, AnalogInputKind::kA1);
    Type(*d, "0", "1000", "0", "500");
    d->CalculateButton()->click();
    EXPECT_EQ(d->Parameters(), (ParameterTexts{"1", "2", "0"}));

    Type(*d, "7", "7", "1", "100");
    d->CalculateButton()->click();
    EXPECT_EQ(d->Parameters(), (ParameterTexts{"0", "-128", "0"})) << "X1 = X2: slope and offset 0";

    auto t = Make(kEnglish, AnalogInputKind::kTemperature, 0, {"0", "0", "0.0"}, kSensorPt1000);
    Type(*t, "0", "2", "0", "3");
    t->CalculateButton()->click();
    EXPECT_EQ(t->Parameters(), (ParameterTexts{"75", "0", "0.0"}));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(AnalogParametersDialog, ResetPutsTheNeutralParametersBackAndClearsThePoints) {
    auto d = Make(kEnglish, AnalogInputKind::kA2, 1, {"5", "7", "-3"});
    Type(*d, "1", "2", "3", "4");
    d->ResetButton()->click();
    EXPECT_EQ(d->Parameters(), (ParameterTexts{"1", "1", "0"}));
    EXPECT_EQ(d->Points(), CalibrationTexts{});

    auto t = Make(kGerman, AnalogInputKind::kTemperature, 13, {"5", "7", "-3,5"});
    Type(*t, "1", "2", "3", "4");
    t->ResetButton()->click();
    EXPECT_EQ(t->Parameters(), (ParameterTexts{"0", "0", "0,0"}));
    EXPECT_EQ(t->Points(), CalibrationTexts{});
}

// The example after the explanation (text 118), the numbers the dialog
// shows and the numbers typed in the example's notation agree on one
// separator in every language: a point in English, a comma in the others.
TEST_F(AnalogParametersDialog, TheExampleAndTheNumbersShareOneSeparator) {
    for (int id : kAllLanguages) {
        const std::string separator = id == kEnglish ? "." : ",";
        const std::string example = "123" + separator + "4";
        auto d = Make(id, AnalogInputKind::kTemperature, 13, {"5", "7", "-3"});
        const auto* explanation = d->findChild<QLabel*>(QStringLiteral("explanation"));
        ASSERT_NE(explanation, nullptr);
        EXPECT_TRUE(explanation->text().contains(QString::fromStdString(example))) << id;
        d->ResetButton()->click();
        EXPECT_EQ(d->Parameters().c, "0" + separator + "0") << id;
        Type(*d, "0", "100", example.c_str(), ("133" + separator + "4").c_str());
        d->CalculateButton()->click();
        EXPECT_EQ(d->Parameters(), (ParameterTexts{"1", "1", example})) << id;
    }
}

TEST_F(AnalogParametersDialog, OkWithBadValuesWarnsAndStaysOpen) {
    const struct {
        const char* name;
        AnalogInputKind input;
        int firmware;
        ParameterTexts entered;
        ParameterTexts shown;
    } rows[] = {
        {"a too large", AnalogInputKind::kA1, 1, {"256", "1", "0"}, {"256", "1", "0"}},
        {"b too small", AnalogInputKind::kA2, 1, {"1", "-129", "0"}, {"1", "-129", "0"}},
        {"c empty", AnalogInputKind::kA1, 1, {"1", "1", ""}, {"9999", "9999", "9999"}},
        {"firmware 0: a above 7", AnalogInputKind::kTemperature, 0, {"8", "0", "0.0"}, {"8", "0", "0.0"}},
        {"firmware 0: c above 12.7", AnalogInputKind::kTemperature, 0, {"0", "0", "12.8"}, {"0", "0", "12.8"}},
        {"firmware 13: 10 c above 32767", AnalogInputKind::kTemperature, 13, {"1", "1", "3276.8"},
         {"1", "1", "3276.8"}},
    };
    for (const auto& r : rows) {
        messages_.clear();
        auto d = Make(kEnglish, r.input, r.firmware, r.entered);
        d->open();
        d->OkButton()->click();
        ASSERT_EQ(messages_.size(), 1u) << r.name;
        EXPECT_EQ(messages_[0].text, QText(texts_, kTextParametersOutOfRange, kEnglish)) << r.name;
        EXPECT_EQ(messages_[0].title, QTextPlain(texts_, 113, kEnglish)) << r.name;
        EXPECT_NE(d->result(), QDialog::Accepted) << r.name;
        EXPECT_TRUE(d->isVisible()) << r.name;
        EXPECT_EQ(d->Parameters(), r.shown) << r.name;
    }
}

TEST_F(AnalogParametersDialog, OkRecalculatesFromFilledPointsAndAccepts) {
    auto d = Make(kEnglish, AnalogInputKind::kA1, 1, {"300", "1", "0"});
    Type(*d, "0", "1000", "0", "500");
    d->open();
    d->OkButton()->click();
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->Parameters(), (ParameterTexts{"1", "2", "0"}));

    // Without points the fields are checked as they are.
    auto e = Make(kEnglish, AnalogInputKind::kTemperature, 0, {"-8", "7", "-12.8"});
    e->open();
    e->OkButton()->click();
    EXPECT_EQ(e->result(), QDialog::Accepted);
    EXPECT_EQ(e->Parameters(), (ParameterTexts{"-8", "7", "-12.8"}));
}

TEST_F(AnalogParametersDialog, GermanReadsAndWritesADecimalComma) {
    auto d = Make(kGerman, AnalogInputKind::kTemperature, 13, {"0", "0", "0,0"});
    Type(*d, "100", "1100", "0", "100,0");
    d->CalculateButton()->click();
    EXPECT_EQ(d->Parameters(), (ParameterTexts{"1", "1", "-10,0"}));
    EXPECT_EQ(d->Points(), (CalibrationTexts{"100", "1100", "0,0", "100,0"}));
    d->open();
    d->OkButton()->click();
    EXPECT_EQ(d->result(), QDialog::Accepted);

    auto english = Make(kEnglish, AnalogInputKind::kTemperature, 13, {"0", "0", "0.0"});
    Type(*english, "100", "1100", "0", "100.0");
    english->CalculateButton()->click();
    EXPECT_EQ(english->Parameters(), (ParameterTexts{"1", "1", "-10.0"}));
    EXPECT_EQ(english->Points(), (CalibrationTexts{"100", "1100", "0.0", "100.0"}));

    // A German c of 12,7 passes the firmware-0 check, 12,8 does not.
    auto g0 = Make(kGerman, AnalogInputKind::kTemperature, 0, {"0", "0", "12,7"});
    g0->open();
    g0->OkButton()->click();
    EXPECT_EQ(g0->result(), QDialog::Accepted);
    auto g1 = Make(kGerman, AnalogInputKind::kTemperature, 0, {"0", "0", "12,8"});
    g1->open();
    g1->OkButton()->click();
    EXPECT_NE(g1->result(), QDialog::Accepted);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, QText(texts_, kTextParametersOutOfRange, kGerman));
}

TEST_F(AnalogParametersDialog, CaptionsAndLimitsOfTheFields) {
    auto d = Make(kEnglish, AnalogInputKind::kA1);
    EXPECT_EQ(d->windowTitle(), QTextPlain(texts_, 113, kEnglish));
    EXPECT_EQ(d->Explanation()->text(), QText(texts_, 114, kEnglish));
    EXPECT_EQ(d->CalculateButton()->text(), QText(texts_, 115, kEnglish));
    EXPECT_EQ(d->ResetButton()->text(), QText(texts_, 116, kEnglish));
    EXPECT_EQ(d->OkButton()->text(), QText(texts_, 61, kEnglish));
    EXPECT_EQ(d->CancelButton()->text(), QText(texts_, 62, kEnglish));
    for (QLineEdit* e : {d->X1Edit(), d->X2Edit(), d->Y1Edit(), d->Y2Edit(), d->AEdit(), d->BEdit(), d->CEdit()})
        EXPECT_EQ(e->maxLength(), 10) << e->objectName().toStdString();

    // The temperature input's explanation ends with the example temperature.
    for (int id : kAllLanguages) {
        auto t = Make(id, AnalogInputKind::kTemperature);
        EXPECT_EQ(t->Explanation()->text(), QText(texts_, 114, id) + QText(texts_, 118, id)) << id;
    }
}

TEST_F(AnalogParametersDialog, SystemMenuRunsAsFirmware1WithoutCopying) {
    auto d = MERIDEXAnaParam::ForSystemMenu(texts_, kGerman);
    Record(*d);
    EXPECT_FALSE(d->CopiesToPage());
    EXPECT_EQ(d->Context().firmwareNumber, 1);
    EXPECT_EQ(d->Context().languageId, kGerman);
    EXPECT_NE(d->Context().input, AnalogInputKind::kTemperature);
    EXPECT_EQ(d->Parameters(), (ParameterTexts{"1", "1", "0"}));
    Type(*d, "0", "1000", "0", "500");
    d->CalculateButton()->click();
    EXPECT_EQ(d->Parameters(), (ParameterTexts{"1", "2", "0"}));

    auto page = Make(kGerman, AnalogInputKind::kA2);
    EXPECT_TRUE(page->CopiesToPage());
}

TEST_F(AnalogParametersDialog, CancelKeepsNothing) {
    auto d = Make(kEnglish, AnalogInputKind::kA1, 1, {"999", "1", "0"});
    d->open();
    d->CancelButton()->click();
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_TRUE(messages_.empty()) << "Cancel checks nothing";
}

// ---- Nothing cut ------------------------------------------------------------

void SaveShot(QWidget& widget, const QString& name) {
    const QString dir = qEnvironmentVariable("MERIDEX_SHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    EXPECT_TRUE(widget.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

// Every caption shows whole and no widgets overlap (fit_check.h), and every
// field has room for ten digits.
void ExpectNothingCut(QWidget& dialog, const std::string& what) {
    test::ExpectFits(dialog, what);
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) {
        const int tenDigits = edit->fontMetrics().horizontalAdvance(QString(10, QLatin1Char('0')));
        EXPECT_LT(tenDigits, edit->width()) << what << ": field " << edit->objectName().toStdString();
    }
}

TEST_F(AnalogParametersDialog, NoCaptionIsCutInAnyLanguage) {
    for (int id : kAllLanguages)
        for (AnalogInputKind input : {AnalogInputKind::kA1, AnalogInputKind::kTemperature}) {
            const bool temperature = input == AnalogInputKind::kTemperature;
            auto d = Make(id, input, 13, {"-128", "-128", temperature ? "-3276,8" : "-128"});
            d->show();
            d->adjustSize();
            QApplication::processEvents();
            ExpectNothingCut(*d, std::to_string(id) + (temperature ? " temperature" : " analog"));
            SaveShot(*d, QStringLiteral("analog_parameters_%1_%2").arg(id).arg(temperature ? "t" : "a"));
        }
}

}  // namespace
}  // namespace mbus::meridex
