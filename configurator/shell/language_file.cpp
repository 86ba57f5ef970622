#include "configurator/shell/language_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/files/read_file.h"

namespace mbus::meridex {
namespace {

// The text of one line (its carriage return not included).
std::string LineText(std::string_view line) {
    std::string text;
    if (line.size() <= kLanguageLinePrefix) return text;
    line.remove_prefix(kLanguageLinePrefix);
    for (std::size_t i = 0; i < line.size() && text.size() < kLanguageLineTextMax; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
            text += '\n';
            ++i;
        } else {
            text += line[i];
        }
    }
    return text;
}

}  // namespace

int LoadLanguageFile(TextTable& table, std::string_view fileBytes) {
    table.SetLanguageFileLoaded(true);
    std::size_t pos = 0;
    int row = 0;
    while (row < kTextCount) {
        const std::size_t cr = fileBytes.find('\r', pos);
        if (cr == std::string_view::npos) break;
        table.SetCell(row, kGerman, LineText(fileBytes.substr(pos, cr - pos)));
        ++row;
        pos = cr + 1;
        if (pos < fileBytes.size() && fileBytes[pos] == '\n') ++pos;
    }
    return row;
}

std::optional<int> LoadLanguageFileAt(TextTable& table, const std::string& path, std::string* problem) {
    std::string bytes;
    std::string why;
    const files::ReadStatus status = files::ReadTextFile(path, &bytes, &why);
    if (problem != nullptr) problem->clear();
    if (status == files::ReadStatus::kMissing) return std::nullopt;
    if (status == files::ReadStatus::kFailed) {
        if (problem != nullptr) *problem = path + ": " + why;
        return std::nullopt;
    }
    return LoadLanguageFile(table, bytes);
}

std::string RenderLanguageFile(const TextTable& table, int column) {
    std::string out;
    if (column < 0 || column >= kColumnCount) return out;
    for (int i = 0; i < kTextCount; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%05d=", i);
        out += number;
        for (char c : table.Cell(i, column)) {
            if (c == '\n')
                out += "\\n";
            else if (c != '\r')
                out += c;
        }
        out += "\r\n";
    }
    return out;
}

std::string LanguageFileBase(std::string_view chosenPath) {
    const std::size_t slash = chosenPath.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = chosenPath.rfind('.');
    // A dot that opens the name (".TXT", "..") starts no extension.
    if (dot == std::string_view::npos || dot <= nameStart) return std::string(chosenPath);
    return std::string(chosenPath.substr(0, dot));
}

std::string LanguageFileName(std::string_view base, int column) {
    return std::string(base) + "_0" + std::to_string(column) + ".TXT";
}

LanguageExport ExportLanguageFiles(const TextTable& table, std::string_view chosenPath) {
    LanguageExport result;
    const std::string base = LanguageFileBase(chosenPath);
    for (int column = 0; column < kColumnCount; ++column) {
        const std::string name = LanguageFileName(base, column);
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        if (out) {
            const std::string bytes = RenderLanguageFile(table, column);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
        }
        if (!out) {
            result.failedFile = name;
            return result;
        }
        ++result.filesWritten;
    }
    return result;
}

}  // namespace mbus::meridex
