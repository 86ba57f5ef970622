// The settings dialog, the first-start language dialog, their flags and the
// file-dialog filters, under Qt's offscreen platform. Message boxes and file
// dialogs go through the settings dialog's hooks; the control is a fake
// dispatch object that records what it is told.
//
// With MERIDEX_SHOT_DIR set, the caption test also saves a picture of each
// dialog in each language there, and a sheet of all flags (flags.png).

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "configurator/shell/file_filters.h"
#include "configurator/shell/flags.h"
#include "configurator/shell/language_dialog.h"
#include "configurator/shell/language_file.h"
#include "configurator/shell/languages.h"
#include "configurator/shell/qt_texts.h"
#include "configurator/shell/settings_dialog.h"
#include "platform/com/ptr.h"
#include "tests/configurator/widgets/fit_check.h"
#include "tests/support/scratch.h"

// Failure messages show texts, not their UTF-16 units.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace mbus::meridex {
namespace {

using testsupport::ScratchDirectory;

// The six language ids of the buttons, one per column.
const int kAllLanguages[] = {49, 1, 33, 55, 46, 7};

// ---- A control that records what it is told -------------------------------

class FakeControl final : public com::IDispatch {
public:
    std::map<com::DISPID, int32_t> longs;                    // answers of property gets
    std::vector<std::pair<com::DISPID, int32_t>> longPuts;   // property puts of numbers
    std::vector<std::pair<com::DISPID, std::string>> textPuts;  // property puts of texts

    com::HRESULT QueryInterface(com::REFIID, void** object) override {
        *object = this;
        AddRef();
        return com::S_OK;
    }
    com::ULONG AddRef() override { return ++references_; }
    com::ULONG Release() override { return --references_; }
    com::HRESULT GetTypeInfoCount(com::UINT* count) override {
        *count = 0;
        return com::S_OK;
    }
    com::HRESULT GetTypeInfo(com::UINT, com::LCID, com::ITypeInfo**) override { return com::E_NOTIMPL; }
    com::HRESULT GetIDsOfNames(com::REFIID, const com::OLECHAR* const*, com::UINT, com::LCID,
                               com::DISPID*) override {
        return com::E_NOTIMPL;
    }
    com::HRESULT Invoke(com::DISPID member, com::REFIID, com::LCID, com::WORD flags, com::DISPPARAMS* params,
                        com::VARIANT* result, com::EXCEPINFO*, com::UINT*) override {
        if ((flags & com::DISPATCH_PROPERTYPUT) != 0) {
            if (params->cArgs != 1) return com::DISP_E_BADPARAMCOUNT;
            const com::VARIANT& value = params->rgvarg[0];
            if (value.vt == com::VT_BSTR)
                textPuts.emplace_back(member, com::BstrToUtf8(value.bstrVal));
            else if (value.vt == com::VT_I4)
                longPuts.emplace_back(member, value.lVal);
            else
                return com::DISP_E_TYPEMISMATCH;
            return com::S_OK;
        }
        if ((flags & com::DISPATCH_PROPERTYGET) != 0 && result != nullptr) {
            *result = com::MakeVariantI4(longs.count(member) != 0 ? longs[member] : 0);
            return com::S_OK;
        }
        return com::DISP_E_MEMBERNOTFOUND;
    }

private:
    com::ULONG references_ = 1;  // lives on the stack of the test
};

constexpr com::DISPID kTimeoutId = 167;    // TELConnectTimeout
constexpr com::DISPID kDebugFileId = 274;  // APPDebugFileName

// ---- Hooks that record instead of asking ------------------------------------

struct Message {
    SettingsDialogHooks::MessageKind kind;
    QString title;
    QString text;
};

struct RecordedHooks {
    std::vector<Message> messages;
    std::vector<FileDialogRequest> saveRequests;
    std::vector<FileDialogRequest> openRequests;
    QString saveAnswer;  // what the save dialog "returns"
    QString openAnswer;  // what the open dialog "returns"

    SettingsDialogHooks Hooks() {
        SettingsDialogHooks hooks;
        hooks.showMessage = [this](QWidget*, SettingsDialogHooks::MessageKind kind, const QString& title,
                                   const QString& text) { messages.push_back({kind, title, text}); };
        hooks.saveFileName = [this](QWidget*, const FileDialogRequest& request) {
            saveRequests.push_back(request);
            return saveAnswer;
        };
        hooks.openFileName = [this](QWidget*, const FileDialogRequest& request) {
            openRequests.push_back(request);
            return openAnswer;
        };
        return hooks;
    }
};

QImage ImageOf(const QIcon& icon, QSize size) { return icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32); }
QImage ImageOf(const QPixmap& pixmap) { return pixmap.toImage().convertToFormat(QImage::Format_ARGB32); }

// Saves a picture of the widget to $MERIDEX_SHOT_DIR/<name>.png when that
// variable is set.
void SaveShot(QWidget& widget, const QString& name) {
    const QString dir = qEnvironmentVariable("MERIDEX_SHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    EXPECT_TRUE(widget.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

// Every flag large, normal and highlighted, and the alternative German flag,
// as $MERIDEX_SHOT_DIR/flags.png.
void SaveFlagSheet() {
    const QString dir = qEnvironmentVariable("MERIDEX_SHOT_DIR");
    if (dir.isEmpty()) return;
    const QSize size(168, 120);
    QPixmap sheet(size.width() * 3, size.height() * kColumnCount);
    sheet.fill(Qt::lightGray);
    {
        QPainter painter(&sheet);
        for (int column = 0; column < kColumnCount; ++column) {
            const int y = column * size.height();
            painter.drawPixmap(0, y, FlagPixmap(static_cast<Column>(column), false, false, size));
            painter.drawPixmap(size.width(), y, FlagPixmap(static_cast<Column>(column), true, false, size));
            painter.drawPixmap(2 * size.width(), y, FlagPixmap(static_cast<Column>(column), false, true, size));
        }
    }
    EXPECT_TRUE(sheet.save(dir + QStringLiteral("/flags.png")));
}

// Shows the dialog at its natural size and waits until it is laid out.
void ShowLaidOut(QWidget& dialog) {
    dialog.show();
    dialog.adjustSize();
    QApplication::processEvents();
}

// Every caption shows whole and no widgets overlap (fit_check.h).
void ExpectNothingCut(QWidget& dialog, const std::string& what) { test::ExpectFits(dialog, what); }

// Types text that QTest::keyClicks cannot (it knows ASCII keys only).
void TypeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- File-dialog filters ------------------------------------------------------

TEST(QtFilterTest, ConvertsTheTableFiltersOfEveryLanguage) {
    const TextTable texts;
    struct Case {
        int number;
        int languageId;
        const char* expected;
    };
    const Case cases[] = {
        {20, 1, "Language Files (*.TXT);;All Files (*)"},
        {20, 49, "Sprachdateien (*.TXT);;Alle Dateien (*)"},
        {20, 7, "Языковые файлы (*.TXT);;Все файлы (*)"},
        {81, 1, "Device List (*.MDX);;All Files (*)"},
        {81, 49, "Geräteliste (*.MDX);;Alle Dateien (*)"},
        {81, 33, "Liste d'appareils (*.MDX);;Tous les fichiers (*)"},
        {85, 1, "All Files (*)"},
        {85, 55, "Todos os arquivos (*)"},
        {85, 46, "Alla filer (*)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QtFilter(QText(texts, c.number, c.languageId)), QString::fromUtf8(c.expected))
            << "text " << c.number << " language " << c.languageId;

    // Every column: the list structure survives, the patterns are Qt's.
    for (int id : kAllLanguages) {
        const QStringList languageFiles = QtFilter(QText(texts, 20, id)).split(QStringLiteral(";;"));
        ASSERT_EQ(languageFiles.size(), 2) << id;
        EXPECT_TRUE(languageFiles[0].endsWith(QStringLiteral(" (*.TXT)"))) << id;
        EXPECT_TRUE(languageFiles[1].endsWith(QStringLiteral(" (*)"))) << id;
        const QStringList deviceLists = QtFilter(QText(texts, 81, id)).split(QStringLiteral(";;"));
        ASSERT_EQ(deviceLists.size(), 2) << id;
        EXPECT_TRUE(deviceLists[0].endsWith(QStringLiteral(" (*.MDX)"))) << id;
        EXPECT_FALSE(QtFilter(QText(texts, 85, id)).contains(QStringLiteral(";;"))) << id;
    }
}

TEST(QtFilterTest, HandlesOtherFilterForms) {
    struct Case {
        const char* windows;
        const char* qt;
    };
    const Case cases[] = {
        {"", ""},
        {"||", ""},
        // Several patterns: blank-separated; the description's own list is replaced.
        {"Texts (*.txt)|*.txt;*.log||", "Texts (*.txt *.log)"},
        // A description without patterns gets them appended; other parentheses stay.
        {"Logs|*.log||", "Logs (*.log)"},
        {"Devices (old)|*.OLD||", "Devices (old) (*.OLD)"},
        // The list ends at "||"; without it, at the last complete pair.
        {"A|*.a||B|*.b||", "A (*.a)"},
        {"A|*.a|B|*.b", "A (*.a);;B (*.b)"},
        {"A|*.a|B", "A (*.a)"},
        // An empty element ends the list, an entry without a real pattern is
        // left out, repeated patterns appear once.
        {"None||", ""},
        {"Empty||All|*.*||", ""},
        {"X|;|Y|*.y;*.y||", "Y (*.y)"},
        {"(*.TXT)|*.TXT||", "(*.TXT)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QtFilter(QString::fromUtf8(c.windows)), QString::fromUtf8(c.qt)) << c.windows;
}

// ---- Flags --------------------------------------------------------------------

// Colour at a point given in fractions of the flag's width and height.
QColor FlagColour(const QImage& image, QSize size, double fx, double fy) {
    const QRect flag = FlagRect(size);
    return image.pixelColor(flag.left() + static_cast<int>(fx * flag.width()),
                            flag.top() + static_cast<int>(fy * flag.height()));
}

bool Near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 24 && std::abs(a.green() - b.green()) <= 24 &&
           std::abs(a.blue() - b.blue()) <= 24 && a.alpha() == 255;
}

TEST(FlagTest, EachFlagHasItsColoursInTheirPlaces) {
    const QColor black(0, 0, 0), white(255, 255, 255), frenchBlue(0, 35, 149), frenchRed(237, 41, 57),
        germanRed(221, 0, 0), gold(255, 206, 0), russianBlue(0, 57, 166), russianRed(213, 43, 30),
        swedishBlue(0, 106, 167), swedishYellow(254, 204, 0), green(0, 148, 64), brazilYellow(254, 221, 0),
        brazilBlue(0, 39, 118), unionBlue(1, 33, 105), unionRed(200, 16, 46);
    struct Probe {
        Column column;
        double fx, fy;
        QColor colour;
    };
    const Probe probes[] = {
        {kFrench, 0.15, 0.5, frenchBlue},    {kFrench, 0.5, 0.5, white},         {kFrench, 0.85, 0.5, frenchRed},
        {kGerman, 0.5, 0.15, black},         {kGerman, 0.5, 0.5, germanRed},     {kGerman, 0.5, 0.85, gold},
        {kRussian, 0.5, 0.15, white},        {kRussian, 0.5, 0.5, russianBlue},  {kRussian, 0.5, 0.85, russianRed},
        {kSwedish, 0.12, 0.15, swedishBlue}, {kSwedish, 0.37, 0.15, swedishYellow},
        {kSwedish, 0.8, 0.5, swedishYellow}, {kSwedish, 0.8, 0.85, swedishBlue},
        {kPortuguese, 0.04, 0.06, green},    {kPortuguese, 0.2, 0.5, brazilYellow},
        {kPortuguese, 0.5, 0.35, brazilBlue},
        {kEnglish, 0.3, 0.12, unionBlue},    {kEnglish, 0.5, 0.5, unionRed},     {kEnglish, 0.3, 0.63, white},
        {kEnglish, 0.12, 0.04, white},  // white edge of the diagonal near the corner
    };
    const QSize size(120, 90);
    for (const Probe& p : probes) {
        const QImage image = ImageOf(FlagPixmap(p.column, false, false, size));
        const QColor got = FlagColour(image, size, p.fx, p.fy);
        EXPECT_TRUE(Near(got, p.colour)) << "column " << p.column << " at " << p.fx << "," << p.fy << ": got "
                                         << got.name().toStdString() << ", expected " << p.colour.name().toStdString();
    }
}

TEST(FlagTest, HighlightFramesTheFlagWithoutChangingIt) {
    const QSize size(56, 40);
    const QRect flag = FlagRect(size);
    ASSERT_GT(flag.left(), 2);
    ASSERT_GT(flag.top(), 2);
    for (int column = 0; column < kColumnCount; ++column) {
        const QImage normal = ImageOf(FlagPixmap(static_cast<Column>(column), false, false, size));
        const QImage highlighted = ImageOf(FlagPixmap(static_cast<Column>(column), true, false, size));
        ASSERT_EQ(normal.size(), size);
        // Inside the flag both are the same.
        EXPECT_EQ(normal.copy(flag), highlighted.copy(flag)) << column;
        // Just outside, the normal flag is transparent and the highlighted one
        // has an opaque bright frame.
        const QPoint beside(flag.left() - 1, flag.center().y());
        EXPECT_EQ(normal.pixelColor(beside).alpha(), 0) << column;
        const QColor frame = highlighted.pixelColor(beside);
        EXPECT_EQ(frame.alpha(), 255) << column;
        EXPECT_GT(frame.red(), 200) << column;
        EXPECT_LT(frame.blue(), 100) << column;
    }
}

TEST(FlagTest, AlternativeGermanFlagIsDistinctAndOnlyGermanChanges) {
    const QSize size(56, 40);
    const QImage german = ImageOf(FlagPixmap(kGerman, false, false, size));
    const QImage alternative = ImageOf(FlagPixmap(kGerman, false, true, size));
    EXPECT_NE(german, alternative);
    // The black band at the top left stays; the page lies in the lower right.
    EXPECT_TRUE(Near(FlagColour(alternative, size, 0.2, 0.15), QColor(0, 0, 0)));
    EXPECT_TRUE(Near(FlagColour(alternative, size, 0.8, 0.75), QColor(255, 255, 255)));
    for (Column other : {kEnglish, kFrench, kPortuguese, kSwedish, kRussian})
        EXPECT_EQ(ImageOf(FlagPixmap(other, true, false, size)), ImageOf(FlagPixmap(other, true, true, size)))
            << other;
}

TEST(FlagTest, PixmapFollowsTheDevicePixelRatio) {
    const QPixmap pixmap = FlagPixmap(kSwedish, false, false, QSize(56, 40), 2.0);
    EXPECT_EQ(pixmap.size(), QSize(112, 80));
    EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(56, 40));
}

// ---- First-start language dialog -------------------------------------------

TEST(LanguageDialogTest, PromptsAreInTheirOwnLanguages) {
    const TextTable texts;
    MERIDEXLanguage dialog(texts, 49);
    const char* expected[] = {"Select a language:", "Wählen Sie eine Sprache aus:", "Choisir une langue :",
                              "Selecione uma linguagem:", "Välj ett språk:", "Выберите язык:"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(dialog.PromptLabel(i)->text(), QString::fromUtf8(expected[i])) << i;
    // The Russian prompt is the Russian cell of text 55.
    EXPECT_EQ(dialog.PromptLabel(5)->text(), QText(texts, 55, 7));
}

TEST(LanguageDialogTest, EachFlagSetsItsIdAndCloses) {
    const TextTable texts;
    const int expected[] = {1, 49, 33, 55, 46, 7};
    for (int i = 0; i < 6; ++i) {
        MERIDEXLanguage dialog(texts, 49);
        dialog.show();
        QTest::mouseClick(dialog.FlagButton(i), Qt::LeftButton);
        EXPECT_EQ(dialog.LanguageId(), expected[i]) << i;
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << i;
        EXPECT_FALSE(dialog.isVisible()) << i;
    }
}

TEST(LanguageDialogTest, ClosingWithoutAChoiceKeepsTheGivenIdAndThereIsNoCancel) {
    const TextTable texts;
    MERIDEXLanguage dialog(texts, 43);
    EXPECT_TRUE(dialog.findChildren<QPushButton*>().isEmpty());
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.LanguageId(), 43);
}

// The language it was opened with is pre-selected (an id sharing a column
// selects that column's flag) and has the focus, so that Space takes it.
TEST(LanguageDialogTest, TheGivenLanguageIsPreSelected) {
    const TextTable texts;
    const std::pair<int, int> cases[] = {{7, 5}, {43, 1}, {1, 0}, {351, 3}};
    for (const auto& [id, index] : cases) {
        MERIDEXLanguage dialog(texts, id);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(dialog.FlagButton(i)->isChecked(), i == index) << id << " " << i;
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        EXPECT_EQ(QApplication::focusWidget(), dialog.FlagButton(index)) << id;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << id;
        EXPECT_EQ(dialog.LanguageId(), kLanguageButtons[index].languageId) << id;
    }
}

TEST(LanguageDialogTest, OpensCentredOnTheScreenOrOnItsShownParent) {
    const TextTable texts;
    const auto centreOf = [](const QWidget& w) { return w.frameGeometry().center(); };
    const auto near = [](QPoint a, QPoint b) { return (a - b).manhattanLength() <= 2; };
    QWidget parent;
    {
        // A parent not shown yet (the main dialog at start): the screen.
        MERIDEXLanguage dialog(texts, 49, &parent);
        dialog.show();
        const QPoint screen = dialog.screen()->availableGeometry().center();
        EXPECT_TRUE(near(centreOf(dialog), screen)) << centreOf(dialog).x() << "," << centreOf(dialog).y();
    }
    parent.setGeometry(20, 30, 500, 400);
    parent.show();
    MERIDEXLanguage dialog(texts, 49, &parent);
    dialog.show();
    EXPECT_TRUE(near(centreOf(dialog), centreOf(parent))) << centreOf(dialog).x() << "," << centreOf(dialog).y();
}

// ---- Settings dialog -----------------------------------------------------------

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsChoice Initial(int languageId) const {
        SettingsChoice choice;
        choice.languageId = languageId;
        choice.phoneTimeout = 90;
        choice.modemInit = "ATZ";
        choice.fifo = false;
        choice.btOpto = true;
        choice.manufacturerCode = 1;
        return choice;
    }

    // A dialog bound to the fake control (present) or to an empty wrapper.
    std::unique_ptr<MERIDEXSettings> Make(int runningId, const SettingsChoice& initial, bool withControl = true) {
        control_ = withControl ? Control(com::ComPtr<com::IDispatch>(&fake_)) : Control();
        return std::make_unique<MERIDEXSettings>(texts_, runningId, initial, control_, nullptr, hooks_.Hooks());
    }

    std::vector<int32_t> TimeoutPuts() const {
        std::vector<int32_t> values;
        for (const auto& [id, value] : fake_.longPuts)
            if (id == kTimeoutId) values.push_back(value);
        return values;
    }

    std::vector<std::string> DebugFilePuts() const {
        std::vector<std::string> values;
        for (const auto& [id, value] : fake_.textPuts)
            if (id == kDebugFileId) values.push_back(value);
        return values;
    }

    TextTable texts_;
    FakeControl fake_;  // declared before control_: outlives every wrapper
    Control control_;
    RecordedHooks hooks_;
};

// Order of the settings dialog's flags and the column each shows.
const Column kSettingsFlagColumns[] = {kEnglish, kFrench, kGerman, kPortuguese, kSwedish, kRussian};

TEST_F(SettingsDialogTest, ClickedFlagIsTheOnlyHighlightedOne) {
    auto dialog = Make(1, Initial(1));
    dialog->show();
    const QSize iconSize = dialog->FlagButton(0)->iconSize();
    for (std::size_t clicked = 0; clicked < MERIDEXSettings::kFlagCount; ++clicked) {
        QTest::mouseClick(dialog->FlagButton(clicked), Qt::LeftButton);
        for (std::size_t i = 0; i < MERIDEXSettings::kFlagCount; ++i) {
            const bool expected = i == clicked;
            EXPECT_EQ(dialog->FlagHighlighted(i), expected) << "clicked " << clicked << ", flag " << i;
            // The button shows the image of its state.
            EXPECT_EQ(ImageOf(dialog->FlagButton(i)->icon(), iconSize),
                      ImageOf(FlagPixmap(kSettingsFlagColumns[i], expected, false, iconSize)))
                << "clicked " << clicked << ", flag " << i;
        }
    }
    const int ids[] = {1, 33, 49, 55, 46, 7};
    for (std::size_t i = 0; i < MERIDEXSettings::kFlagCount; ++i) {
        QTest::mouseClick(dialog->FlagButton(i), Qt::LeftButton);
        EXPECT_EQ(dialog->Choice().languageId, ids[i]) << i;
    }
    // The running program's captions stay as they were.
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("MERIDEX Settings"));
    EXPECT_EQ(dialog->CancelButton()->text(), QStringLiteral("&Cancel"));
}

TEST_F(SettingsDialogTest, StartsWithTheCurrentLanguageHighlighted) {
    // 43 (Austria) reads German: the German flag is the chosen one, and
    // clicking it keeps the id, so OK has nothing to announce.
    auto dialog = Make(43, Initial(43));
    for (std::size_t i = 0; i < MERIDEXSettings::kFlagCount; ++i)
        EXPECT_EQ(dialog->FlagHighlighted(i), i == 2) << i;
    dialog->FlagButton(2)->click();
    EXPECT_EQ(dialog->Choice().languageId, 43);
    dialog->OkButton()->click();
    EXPECT_TRUE(hooks_.messages.empty());
    EXPECT_FALSE(dialog->LanguageChanged());
}

TEST_F(SettingsDialogTest, GermanFlagTakesItsAlternativeFormWhenALanguageFileIsLoaded) {
    texts_.SetLanguageFileLoaded(true);
    auto dialog = Make(49, Initial(49));
    const QSize iconSize = dialog->FlagButton(2)->iconSize();
    EXPECT_EQ(ImageOf(dialog->FlagButton(2)->icon(), iconSize), ImageOf(FlagPixmap(kGerman, true, true, iconSize)));
    dialog->FlagButton(0)->click();  // redrawn: still the alternative form
    EXPECT_EQ(ImageOf(dialog->FlagButton(2)->icon(), iconSize), ImageOf(FlagPixmap(kGerman, false, true, iconSize)));
}

TEST_F(SettingsDialogTest, OkWithANewLanguageTellsItInTheChosenLanguage) {
    struct Case {
        std::size_t flag;
        const char* text;
    };
    const Case cases[] = {
        {5, "Русский язык будет использоваться после следующего запуска."},
        {2, "Deutsche Programmtexte werden ab dem nächsten Start benutzt."},
        {1, "Le français sera utilisé au prochain démarrage."},
    };
    for (const Case& c : cases) {
        hooks_.messages.clear();
        fake_.longPuts.clear();
        auto dialog = Make(1, Initial(1));
        dialog->TimeoutBox()->setValue(245);
        dialog->FlagButton(c.flag)->click();
        EXPECT_TRUE(dialog->LanguageChanged());
        dialog->OkButton()->click();
        ASSERT_EQ(hooks_.messages.size(), 1u) << c.flag;
        EXPECT_EQ(hooks_.messages[0].text, QString::fromUtf8(c.text));
        EXPECT_EQ(hooks_.messages[0].kind, SettingsDialogHooks::MessageKind::Information);
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(TimeoutPuts(), std::vector<int32_t>{245});
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("MERIDEX Settings"));
    }
}

TEST_F(SettingsDialogTest, OkWithTheSameLanguageSaysNothing) {
    auto dialog = Make(7, Initial(7));
    dialog->FlagButton(5)->click();
    dialog->OkButton()->click();
    EXPECT_TRUE(hooks_.messages.empty());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(TimeoutPuts().size(), 1u);
}

TEST_F(SettingsDialogTest, ChoiceIsWhatTheFieldsShow) {
    auto dialog = Make(49, Initial(33), false);
    // Without a control the timeout starts at the given value.
    EXPECT_EQ(dialog->Choice(), Initial(33));
    EXPECT_TRUE(dialog->KtrButton()->isChecked());
    EXPECT_FALSE(dialog->VndButton()->isChecked());

    dialog->FlagButton(4)->click();
    dialog->TimeoutBox()->setValue(300);
    dialog->ModemInitEdit()->setText(QStringLiteral("AT&F"));
    dialog->FifoBox()->setChecked(true);
    dialog->BtOptoBox()->setChecked(false);
    dialog->VndButton()->setChecked(true);
    dialog->OkButton()->click();

    const SettingsChoice expected{46, 300, "AT&F", true, false, 0};
    EXPECT_EQ(dialog->Choice(), expected);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    // The message still comes; the empty control is simply not called.
    ASSERT_EQ(hooks_.messages.size(), 1u);
    EXPECT_EQ(hooks_.messages[0].text, QString::fromUtf8("Svenska används från och med nästa start."));
    EXPECT_TRUE(fake_.longPuts.empty());
}

TEST_F(SettingsDialogTest, TimeoutStartsAtTheControlsValueWithinFiveToSixHundred) {
    fake_.longs[kTimeoutId] = 120;
    auto dialog = Make(1, Initial(1));
    EXPECT_EQ(dialog->TimeoutBox()->value(), 120);
    EXPECT_EQ(dialog->TimeoutBox()->minimum(), 5);
    EXPECT_EQ(dialog->TimeoutBox()->maximum(), 600);
    EXPECT_EQ(dialog->TimeoutBox()->singleStep(), 1);
    dialog->TimeoutBox()->setValue(1000);
    EXPECT_EQ(dialog->TimeoutBox()->value(), 600);
    dialog->TimeoutBox()->setValue(1);
    EXPECT_EQ(dialog->TimeoutBox()->value(), 5);

    fake_.longs[kTimeoutId] = 0;  // a control that reports 0 starts the box at its minimum
    EXPECT_EQ(Make(1, Initial(1))->TimeoutBox()->value(), 5);
}

TEST_F(SettingsDialogTest, TypedTimeoutIsTakenOnOk) {
    auto dialog = Make(1, Initial(1));
    dialog->show();
    QSpinBox* box = dialog->TimeoutBox();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("77"));
    dialog->OkButton()->click();
    EXPECT_EQ(TimeoutPuts(), std::vector<int32_t>{77});
    EXPECT_EQ(dialog->Choice().phoneTimeout, 77);
}

TEST_F(SettingsDialogTest, CancelDiscards) {
    auto dialog = Make(1, Initial(1));
    dialog->FlagButton(5)->click();
    dialog->TimeoutBox()->setValue(33);
    dialog->CancelButton()->click();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_TRUE(hooks_.messages.empty());
    EXPECT_TRUE(fake_.longPuts.empty());
}

TEST_F(SettingsDialogTest, AnInitStringThatWouldChangeTheDialScriptIsRefused) {
    auto dialog = Make(1, Initial(1));
    dialog->show();
    dialog->ModemInitEdit()->setText(QStringLiteral("ATZ|5"));
    dialog->OkButton()->click();
    ASSERT_EQ(hooks_.messages.size(), 1u);
    EXPECT_EQ(hooks_.messages[0].kind, SettingsDialogHooks::MessageKind::Warning);
    EXPECT_TRUE(hooks_.messages[0].text.contains(QStringLiteral("Modem init string")))
        << hooks_.messages[0].text.toStdString();
    EXPECT_TRUE(dialog->isVisible()) << "the dialog stays open for the correction";
    EXPECT_NE(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(TimeoutPuts().empty()) << "nothing is handed to the control";

    hooks_.messages.clear();
    dialog->ModemInitEdit()->setText(QStringLiteral("ATZ5"));
    dialog->OkButton()->click();
    EXPECT_TRUE(hooks_.messages.empty());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->Choice().modemInit, "ATZ5");
}

TEST_F(SettingsDialogTest, ModemInitStringHoldsAtMostOneHundredCharacters) {
    auto dialog = Make(1, Initial(1));
    dialog->show();
    QLineEdit* edit = dialog->ModemInitEdit();
    edit->setText(QString(150, QLatin1Char('A')));
    EXPECT_EQ(edit->text().size(), 100);

    edit->clear();
    edit->setFocus();
    QTest::keyClicks(edit, QString(120, QLatin1Char('B')));
    EXPECT_EQ(edit->text(), QString(100, QLatin1Char('B')));

    // Characters, not bytes: a hundred of two bytes each in UTF-8 fit.
    edit->clear();
    TypeText(edit, QString(120, QChar(0x00E4)));
    EXPECT_EQ(edit->text(), QString(100, QChar(0x00E4)));
    EXPECT_EQ(dialog->Choice().modemInit.size(), 200u);
}

TEST_F(SettingsDialogTest, ModemInitStringIsSelectedWholeOnFocus) {
    auto dialog = Make(1, Initial(1));
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    QLineEdit* edit = dialog->ModemInitEdit();
    edit->setText(QStringLiteral("ATZ E0"));

    // By keyboard.
    dialog->TimeoutBox()->setFocus(Qt::TabFocusReason);
    edit->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(edit->selectedText(), QStringLiteral("ATZ E0"));

    // By a mouse click into the middle of the text, which would place the cursor.
    dialog->TimeoutBox()->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_TRUE(edit->selectedText().isEmpty());
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() / 3, edit->height() / 2));
    QApplication::processEvents();
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(edit->selectedText(), QStringLiteral("ATZ E0"));
}

TEST_F(SettingsDialogTest, DebugFileAreaLeftOfTheFlagsHandsTheTrimmedPathToTheControl) {
    auto dialog = Make(49, Initial(49));
    ShowLaidOut(*dialog);
    QWidget* area = dialog->DebugFileArea();
    const QRect areaRect(area->mapTo(dialog.get(), QPoint(0, 0)), area->size());
    const QToolButton* first = dialog->FlagButton(0);
    const QRect flagRect(first->mapTo(dialog.get(), QPoint(0, 0)), first->size());
    EXPECT_LE(areaRect.right(), flagRect.left());
    EXPECT_LT(areaRect.top(), flagRect.bottom());
    EXPECT_GT(areaRect.bottom(), flagRect.top());

    hooks_.openAnswer = QStringLiteral("  /tmp/debug log.txt \t");
    QTest::mouseClick(area, Qt::LeftButton);
    ASSERT_EQ(hooks_.openRequests.size(), 1u);
    EXPECT_EQ(hooks_.openRequests[0].windowsFilter, QString::fromUtf8("Alle Dateien (*.*)|*.*||"));
    EXPECT_EQ(hooks_.openRequests[0].defaultSuffix, QStringLiteral("TXT"));

    hooks_.openAnswer.clear();  // cancelled
    QTest::mouseClick(area, Qt::LeftButton);
    EXPECT_EQ(DebugFilePuts(), (std::vector<std::string>{"/tmp/debug log.txt", ""}));

    // A right click does nothing.
    QTest::mouseClick(area, Qt::RightButton);
    EXPECT_EQ(hooks_.openRequests.size(), 2u);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(SettingsDialogTest, DebugFileAreaWithoutAControlDoesNoHarm) {
    auto dialog = Make(1, Initial(1), false);
    ShowLaidOut(*dialog);
    hooks_.openAnswer = QStringLiteral("/tmp/x.txt");
    QTest::mouseClick(dialog->DebugFileArea(), Qt::LeftButton);
    EXPECT_EQ(hooks_.openRequests.size(), 1u);
    EXPECT_TRUE(fake_.textPuts.empty());
}

TEST_F(SettingsDialogTest, ExportAreaTopRightWritesTheSixLanguageFiles) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.Ok());
    auto dialog = Make(1, Initial(1));
    ShowLaidOut(*dialog);
    QWidget* area = dialog->ExportArea();
    EXPECT_EQ(area->geometry().right(), dialog->width() - 1);
    EXPECT_EQ(area->geometry().top(), 0);

    hooks_.saveAnswer = QString::fromStdString(scratch.File("MERIDEX.TXT"));
    QTest::mouseClick(area, Qt::LeftButton);
    ASSERT_EQ(hooks_.saveRequests.size(), 1u);
    EXPECT_EQ(hooks_.saveRequests[0].fileName, QStringLiteral("MERIDEX"));
    EXPECT_EQ(hooks_.saveRequests[0].defaultSuffix, QStringLiteral("TXT"));
    EXPECT_EQ(hooks_.saveRequests[0].windowsFilter,
              QStringLiteral("Language Files (*.TXT)|*.TXT|All Files (*.*)|*.*||"));
    EXPECT_TRUE(hooks_.messages.empty());
    for (int column = 0; column < 6; ++column) {
        const std::string file = scratch.File("MERIDEX_0" + std::to_string(column) + ".TXT");
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_EQ(ReadFile(file), RenderLanguageFile(texts_, column)) << file;
    }
    EXPECT_EQ(ReadFile(scratch.File("MERIDEX_01.TXT")).substr(0, 37), "00000=Unable to find M-Bus ActiveX!\r\n");
    EXPECT_FALSE(std::filesystem::exists(scratch.File("MERIDEX.TXT")));
}

TEST_F(SettingsDialogTest, ExportFailureNamesTheFileAndCancelWritesNothing) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.Ok());
    auto dialog = Make(49, Initial(49));
    ShowLaidOut(*dialog);

    hooks_.saveAnswer.clear();
    QTest::mouseClick(dialog->ExportArea(), Qt::LeftButton);
    EXPECT_TRUE(hooks_.messages.empty());
    EXPECT_TRUE(std::filesystem::is_empty(scratch.Path()));

    const std::string missing = scratch.File("no/such/dir/MERIDEX.TXT");
    hooks_.saveAnswer = QString::fromStdString(missing);
    QTest::mouseClick(dialog->ExportArea(), Qt::LeftButton);
    ASSERT_EQ(hooks_.messages.size(), 1u);
    EXPECT_EQ(hooks_.messages[0].kind, SettingsDialogHooks::MessageKind::Warning);
    EXPECT_TRUE(hooks_.messages[0].text.contains(QString::fromStdString(scratch.File("no/such/dir/MERIDEX_00.TXT"))))
        << hooks_.messages[0].text.toStdString();
    EXPECT_TRUE(hooks_.messages[0].text.startsWith(QText(texts_, 5, 49)));
}

TEST_F(SettingsDialogTest, CaptionsComeFromTheTableInTheRunningLanguage) {
    auto russian = Make(7, Initial(1));
    EXPECT_EQ(russian->windowTitle(), QString::fromUtf8("Настройки MERIDEX"));
    EXPECT_EQ(russian->CancelButton()->text(), QString::fromUtf8("&Отмена"));
    EXPECT_EQ(russian->OkButton()->text(), QStringLiteral("&OK"));
    EXPECT_EQ(russian->KtrButton()->text(), QStringLiteral("KTR"));

    auto german = Make(49, Initial(1));
    EXPECT_EQ(german->windowTitle(), QStringLiteral("MERIDEX Einstellungen"));
    EXPECT_EQ(german->FifoBox()->text(), QStringLiteral("FiFo-Puffer aktiviert"));
    EXPECT_EQ(german->BtOptoBox()->text(), QStringLiteral("ALMO OH BT aktiviert"));
    QStringList groups;
    for (QGroupBox* group : german->findChildren<QGroupBox*>()) groups << group->title();
    for (int number : {54, 57, 59, 88, 122, 119})
        EXPECT_TRUE(groups.contains(QText(texts_, number, 49))) << number;
    QStringList labels;
    for (QLabel* label : german->findChildren<QLabel*>()) labels << label->text();
    for (int number : {55, 58, 60}) EXPECT_TRUE(labels.contains(QText(texts_, number, 49))) << number;
}

TEST_F(SettingsDialogTest, NoCaptionIsCutInAnyLanguage) {
    fake_.longs[kTimeoutId] = 600;  // the widest value the box shows
    for (int id : kAllLanguages) {
        auto dialog = Make(id, Initial(id));
        ShowLaidOut(*dialog);
        ExpectNothingCut(*dialog, "settings " + std::to_string(id));
        SaveShot(*dialog, QStringLiteral("settings_%1").arg(id));
    }
    texts_.SetLanguageFileLoaded(true);
    auto german = Make(49, Initial(1));
    ShowLaidOut(*german);
    SaveShot(*german, QStringLiteral("settings_49_language_file"));

    MERIDEXLanguage language(texts_, 49);
    ShowLaidOut(language);
    ExpectNothingCut(language, "language dialog");
    SaveShot(language, QStringLiteral("language_dialog"));
    SaveFlagSheet();
}

}  // namespace
}  // namespace mbus::meridex
