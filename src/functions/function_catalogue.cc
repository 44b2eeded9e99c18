#include "functions/function_catalogue.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "functions/function_table.h"
#include "functions/native_registry.h"
#include "util/text.h"

namespace korvel {
namespace {

// Spellings that newer workbooks store for functions the host program once added; they resolve
// to the catalogued function without a descriptor of their own.
struct Alias {
  const char16_t* name;
  int number;
};
constexpr Alias kAliases[] = {{u"_XLFN.COUNTIFS", 481}, {u"_XLFN.IFERROR", 480}};

ArgumentClass classOfLetter(char letter) {
  switch (letter) {
    case 'V':
      return kClassValue;
    case 'R':
      return kClassReference;
    case 'A':
      return kClassArray;
    case 'S':
      return kClassSingle;
    case 'N':
      return kClassUnevaluated;
    default:
      return kClassNone;
  }
}

std::unique_ptr<FunctionDescriptor> makeDescriptor(const FunctionRow& row) {
  auto descriptor = std::make_unique<FunctionDescriptor>();
  descriptor->name = row.name;
  descriptor->minimumArguments = row.minimumArguments;
  descriptor->maximumArguments = row.maximumArguments;
  descriptor->flags = row.kind;
  descriptor->returnType = row.returnType;
  descriptor->argumentTypes = row.argumentTypes;
  if (row.argumentTypes != nullptr) {
    descriptor->argumentTypeLength = static_cast<int16_t>(std::strlen(row.argumentTypes));
    for (const char* letter = row.argumentTypes; *letter != 0; ++letter) {
      if (*letter == 'A') descriptor->flags |= kFunctionTakesArray;
      if (*letter == 'N' || *letter == 'R') descriptor->flags |= kFunctionTakesReference;
    }
  }
  return descriptor;
}

// The lines of a table, without their CR LF (or bare LF). A final line break does not start
// another line.
std::vector<std::u16string_view> splitLines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  while (!text.empty()) {
    size_t end = text.find(u'\n');
    std::u16string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::u16string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::vector<std::u16string_view> splitFields(std::u16string_view line) {
  std::vector<std::u16string_view> fields;
  for (;;) {
    size_t end = line.find(u';');
    fields.push_back(line.substr(0, end));
    if (end == std::u16string_view::npos) return fields;
    line.remove_prefix(end + 1);
  }
}

// A function number written in decimal, surrounding blanks allowed; nothing for any other text
// and for numbers past the catalogue's range.
std::optional<int> readFunctionNumber(std::u16string_view field) {
  field = trim(field);
  if (field.empty()) return std::nullopt;
  int number = 0;
  for (char16_t unit : field) {
    if (!isDigit(unit)) return std::nullopt;
    number = number * 10 + (unit - u'0');
    if (number >= FunctionCatalogue::kNumberLimit) return std::nullopt;
  }
  return number;
}

}  // namespace

ArgumentClass argumentClass(const FunctionDescriptor& descriptor, int position) {
  if (position < 0 || position >= descriptor.maximumArguments) return kClassNone;
  if (descriptor.argumentTypeLength <= 0 || descriptor.argumentTypes == nullptr) return kClassNone;
  int index = std::min(position, descriptor.argumentTypeLength - 1);
  return classOfLetter(descriptor.argumentTypes[index]);
}

ArgumentClass returnClass(const FunctionDescriptor& descriptor) {
  return classOfLetter(descriptor.returnType);
}

FunctionCatalogue::FunctionCatalogue() : descriptors_(kNumberLimit) { build(); }

FunctionCatalogue::~FunctionCatalogue() = default;

FunctionCatalogue& FunctionCatalogue::instance() {
  static FunctionCatalogue catalogue;
  return catalogue;
}

void FunctionCatalogue::build() {
  if (!numbers_.empty()) return;
  for (const FunctionRow& row : functionRows()) {
    numbers_.emplace(row.name, row.number);
    descriptors_[row.number] = makeDescriptor(row);
  }
  for (const Alias& alias : kAliases) numbers_.emplace(alias.name, alias.number);
  // Walking in ascending name order lets an alias, whose "_" sorts after every capital letter,
  // win over its function's own name: formula texts for the host program then carry the prefixed
  // spelling that the host program expects for these newer functions.
  for (const auto& [name, number] : numbers_) {
    if (number != -1) names_[number] = name;
  }
}

int FunctionCatalogue::numberOfName(std::u16string_view name) const {
  auto found = numbers_.find(name);
  return found == numbers_.end() ? -1 : found->second;
}

const FunctionDescriptor* FunctionCatalogue::descriptorOfNumber(int number) const {
  if (static_cast<unsigned>(number) >= static_cast<unsigned>(kNumberLimit)) return nullptr;
  return descriptors_[number].get();
}

const std::u16string* FunctionCatalogue::nameOfNumber(int number) const {
  auto found = names_.find(number);
  return found == names_.end() ? nullptr : &found->second;
}

size_t FunctionCatalogue::descriptorCount() const {
  return std::count_if(descriptors_.begin(), descriptors_.end(),
                       [](const auto& descriptor) { return descriptor != nullptr; });
}

const NativeFunction* FunctionCatalogue::nativeFunction(std::u16string_view upperName) const {
  const NativeRegistry& registry = registry_ != nullptr ? *registry_ : NativeRegistry::instance();
  const NativeFunction* function = registry.findNative(upperName);
  return function != nullptr && function->isNative() ? function : nullptr;
}

int FunctionCatalogue::maximumArguments(int number) const {
  const FunctionDescriptor* descriptor = descriptorOfNumber(number);
  return descriptor != nullptr ? descriptor->maximumArguments : -1;
}

// The members of the resolver share their names with the free functions over descriptors, so the
// free ones are named with their namespace.
int FunctionCatalogue::argumentClass(int number, int position) const {
  const FunctionDescriptor* descriptor = descriptorOfNumber(number);
  return descriptor != nullptr ? korvel::argumentClass(*descriptor, position) : kClassNone;
}

int FunctionCatalogue::returnClass(int number) const {
  const FunctionDescriptor* descriptor = descriptorOfNumber(number);
  return descriptor != nullptr ? korvel::returnClass(*descriptor) : kClassNone;
}

uint32_t FunctionCatalogue::functionFlags(int number) const {
  const FunctionDescriptor* descriptor = descriptorOfNumber(number);
  return descriptor != nullptr ? descriptor->flags : 0;
}

int FunctionCatalogue::loadLocalisedNames(std::u16string_view languageName,
                                          std::u16string_view text) {
  if (!text.empty() && text.front() == u'\uFEFF') text.remove_prefix(1);
  std::vector<std::u16string_view> lines = splitLines(text);
  if (lines.empty()) return 0;

  // The first column holds the function numbers, so only later headers can name the language.
  std::vector<std::u16string_view> headers = splitFields(lines.front());
  size_t column = 1;
  while (column < headers.size() && !equalsNoCase(trim(headers[column]), languageName)) ++column;
  if (column >= headers.size()) return 0;

  int processed = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    ++processed;
    std::vector<std::u16string_view> fields = splitFields(lines[i]);
    std::optional<int> number = readFunctionNumber(fields.front());
    if (!number || column >= fields.size() || fields[column].empty()) continue;
    // Only numbers that already have a name are renamed: a table row for a number the catalogue
    // does not know must not invent a function.
    auto named = names_.find(*number);
    if (named != names_.end()) named->second = std::u16string(fields[column]);
  }
  return processed;
}

}  // namespace korvel
