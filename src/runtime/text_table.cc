// The table and its scrambling. Every unit is XORed with a key drawn from the entry's number and
// the unit's position; the key always has its top bit set, so no stored unit is a printable
// character and no entry can be found by searching the library for its text. The plain texts
// below are read only while compiling: the stored units are computed by the compiler, and only
// they reach the library.
#include "runtime/text_table.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace korvel {
namespace {

constexpr char16_t unitKey(int number, size_t position) {
  uint32_t x = (uint32_t(number) * 0x045D9F3Bu) ^ (uint32_t(position + 1) * 0x27D4EB2Du);
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  return char16_t((x & 0x7FFFu) | 0x8000u);
}

struct PlainEntry {
  TextEntry entry;
  std::u16string_view text;
};

// Each text is the system's own wording; "%s" stands for the application name where a caller
// formats one in.
constexpr PlainEntry kPlainEntries[] = {
    {TextEntry::kNoticeCaption, u"Application notice"},
    {TextEntry::kUndoCaption, u"Undo last entry"},
    {TextEntry::kUndoProcedure, u"DummyFunc4"},
    {TextEntry::kCalculateFunction, u"KorvelCalculate"},
    {TextEntry::kDurationFunction, u"KorvelLastDuration"},
    {TextEntry::kDurationFunction2, u"KorvelCycleSeconds"},
    {TextEntry::kMainFunction, u"KorvelRunMain"},
    {TextEntry::kRangeFunction, u"KorvelTakeRange"},
    {TextEntry::kServiceFunction, u"KorvelService"},
    {TextEntry::kCalculateKey, u"{F9}"},
    {TextEntry::kCalculateKey2, u"^%{F9}"},
    {TextEntry::kEntryMacro, u"DummyFunc6"},
    {TextEntry::kInfoLaunchMode, u"LAUNCHMODE"},
    {TextEntry::kInfoApplicationPath, u"APPPATH"},
    {TextEntry::kInfoApplicationName, u"APPNAME"},
    {TextEntry::kInfoApplicationVersion, u"APPVERSION"},
    {TextEntry::kInfoHostText, u"HOSTTEXT"},
    {TextEntry::kMainWorkbook, u"KorvelMain"},
    {TextEntry::kCloseQuestion,
     u"The application's data has changed. Export the changes before closing?"},
    {TextEntry::kSaveWarning,
     u"%s keeps its workbook to itself: it is not saved as a workbook file. Use the export of the "
     u"application's data to keep your entries."},
    {TextEntry::kCloseCaptionPrefix, u"Closing"},
    {TextEntry::kEditWindowClass, u"EXCEL<"},
    {TextEntry::kEditWindowClass2, u"EXCEL6"},
    {TextEntry::kLinkedApplicationArguments, u"-link %u"},
    {TextEntry::kRunMacroSuffix, u"_AfterSave"},
    {TextEntry::kRunMacroPrefix, u"KorvelHooks"},
    {TextEntry::kInterceptionFailed,
     u"The application cannot take control of the spreadsheet program it runs in, so it cannot "
     u"compute its results. It will now close."},
    {TextEntry::kWorkbookResourceType, u"KVWORKBOOK"},
    {TextEntry::kReadOnlyCaption, u"Save Application"},
    {TextEntry::kReadOnlyWarning,
     u"The application file '%s' is read-only, so the application cannot be saved into it. "
     u"Choose another file to save the application."},
    {TextEntry::kVersionLabel, u"Version "},
};

constexpr size_t kTotalUnits = [] {
  size_t total = 0;
  for (const PlainEntry& e : kPlainEntries) total += e.text.size();
  return total;
}();

struct StoredEntry {
  int number = 0;
  size_t offset = 0;
  size_t length = 0;
};

struct StoredTable {
  std::array<char16_t, kTotalUnits> units{};
  std::array<StoredEntry, std::size(kPlainEntries)> entries{};
};

constexpr StoredTable kStored = [] {
  StoredTable table;
  size_t offset = 0;
  for (size_t i = 0; i < std::size(kPlainEntries); ++i) {
    int number = int(kPlainEntries[i].entry);
    std::u16string_view text = kPlainEntries[i].text;
    table.entries[i] = {number, offset, text.size()};
    for (size_t j = 0; j < text.size(); ++j) {
      table.units[offset + j] = char16_t(text[j] ^ unitKey(number, j));
    }
    offset += text.size();
  }
  return table;
}();

}  // namespace

std::u16string scrambleEntry(int number, std::u16string_view text) {
  std::u16string out(text);
  for (size_t i = 0; i < out.size(); ++i) out[i] = char16_t(out[i] ^ unitKey(number, i));
  return out;
}

std::u16string_view storedEntry(int number) {
  auto found = std::find_if(kStored.entries.begin(), kStored.entries.end(),
                            [number](const StoredEntry& e) { return e.number == number; });
  if (found == kStored.entries.end()) return {};
  return std::u16string_view(kStored.units.data() + found->offset, found->length);
}

std::u16string tableText(TextEntry entry) {
  int number = int(entry);
  return scrambleEntry(number, storedEntry(number));
}

std::string tableText8(TextEntry entry) {
  std::string out;
  for (char16_t unit : tableText(entry)) out.push_back(char(unit & 0xFF));
  return out;
}

}  // namespace korvel
