// Formula text pieces of the node family.
#include "model/nodes/node_text.h"

#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "model/address.h"
#include "model/compiled_model.h"
#include "util/text.h"

namespace korvel {

namespace {

bool allDigits(std::u16string_view text) {
  for (char16_t u : text) {
    if (!isDigit(u)) return false;
  }
  return true;
}

// "A1" form: one to three letters, then at least one digit and nothing else.
bool readsAsA1Address(std::u16string_view name) {
  size_t letters = 0;
  while (letters < name.size() && isAsciiLetter(name[letters])) ++letters;
  return letters >= 1 && letters <= 3 && letters < name.size() && allDigits(name.substr(letters));
}

// "R", "C", "R1", "RC", "R1C1", "RC2": the host program's R1C1 references.
bool readsAsR1C1Address(std::u16string_view name) {
  size_t i = 0;
  auto part = [&](char16_t letter) {
    if (i < name.size() && (name[i] == letter || name[i] == letter + (u'a' - u'A'))) {
      ++i;
      while (i < name.size() && isDigit(name[i])) ++i;
      return true;
    }
    return false;
  };
  bool row = part(u'R');
  bool column = part(u'C');
  return (row || column) && i == name.size();
}

}  // namespace

std::u16string quotedFormulaText(std::u16string_view text) {
  std::u16string out = u"\"";
  for (char16_t u : text) {
    out += u;
    if (u == u'"') out += u'"';
  }
  out += u'"';
  return out;
}

std::u16string formulaLiteral(const Value& value) {
  switch (value.kind()) {
    case ValueKind::kInteger: {
      std::string digits = std::to_string(value.integer());
      return std::u16string(digits.begin(), digits.end());
    }
    case ValueKind::kNumber:
      return numberToText(value.number());
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return quotedFormulaText(value.text());
    case ValueKind::kBoolean:
      return literalText(value.boolean() ? kTextTrue : kTextFalse);
    case ValueKind::kError:
      return errorText(value.errorCode());
    case ValueKind::kArray: {
      const ValueArray& a = value.array();
      std::u16string out = u"{";
      for (uint32_t r = 0; r < a.rows(); ++r) {
        if (r) out += u';';
        for (uint32_t c = 0; c < a.columns(); ++c) {
          if (c) out += userLocale().listSeparator;
          out += formulaLiteral(a.at(c, r));
        }
      }
      out += u'}';
      return out;
    }
    default:
      return {};
  }
}

bool sheetNameNeedsQuotes(std::u16string_view name) {
  if (name.empty() || isDigit(name[0])) return true;
  for (char16_t u : name) {
    if (!isAsciiLetter(u) && !isDigit(u) && u != u'_' && u != u'.') return true;
  }
  return readsAsA1Address(name) || readsAsR1C1Address(name);
}

std::u16string sheetPrefix(const CompiledModel* model, uint32_t sheet, bool* known) {
  *known = true;
  if (!model) return {};
  const Cell* current = currentCell();
  if (current) {
    if (!current->address.isNone() && current->address.sheet() == sheet) return {};
  } else if (model->sheets().size() <= 1) {
    return {};
  }
  const Sheet* entry = model->sheets().find(sheet);
  const std::u16string* name = nullptr;
  if (entry) name = entry->excelName().empty() ? &entry->name() : &entry->excelName();
  if (!name || name->empty()) {
    *known = false;
    return {};
  }
  std::u16string prefix = sheetNameNeedsQuotes(*name) ? quoteSheetName(*name) : *name;
  prefix += u'!';
  return prefix;
}

}  // namespace korvel
