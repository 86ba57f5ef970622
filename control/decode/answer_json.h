// JSON form of a decoded answer: header fields and every record with its
// codes, description, unit, value text and normalised value.

#pragma once

#include <string>

#include "control/decode/answer_text.h"

namespace mbus {

// Appends one JSON object (no trailing newline).
void AppendAnswerJson(std::string& out, const AnswerView& view);

// Appends `s` as a JSON string literal (quotes included).
void AppendJsonString(std::string& out, std::string_view utf8);

}  // namespace mbus
