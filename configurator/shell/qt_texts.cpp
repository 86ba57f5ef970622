#include "configurator/shell/qt_texts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include "configurator/shell/languages.h"

namespace mbus::meridex {

QString QText(const TextTable& table, int number, int languageId) {
    return QString::fromStdString(Text(table, number, languageId));
}

QString QTextPlain(const TextTable& table, int number, int languageId) {
    QString text = QText(table, number, languageId);
    // "&&" stands for a literal "&"; a single "&" marks the accelerator.
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) out += QLatin1Char('&');
            ++i;
            if (i < text.size() && text[i] != QLatin1Char('&')) out += text[i];
            continue;
        }
        out += text[i];
    }
    return out;
}

bool UseQtTranslation(int languageId) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return false;
    // One translator at a time, owned by the application: a new language
    // replaces it rather than stacking another one on top.
    static QPointer<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    const std::string_view locale = QtTranslationLocale(languageId);
    if (locale.empty()) return false;
    auto* translator = new QTranslator(app);
    const QLocale qtLocale(QString::fromUtf8(locale.data(), static_cast<qsizetype>(locale.size())));
    if (!translator->load(qtLocale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

}  // namespace mbus::meridex
