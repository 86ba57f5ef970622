#include "configurator/shell/qt_texts.h"

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

}  // namespace mbus::meridex
