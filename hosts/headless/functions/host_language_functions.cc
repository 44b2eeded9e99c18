// The text functions of other languages' scripts, as the headless program answers them: its
// language is English, which is no double-byte language.
//
// Rules matched here:
// - LENB, LEFTB, RIGHTB, MIDB, FINDB, SEARCHB and REPLACEB count a byte per character where the
//   program's language has no double-byte characters, so each is its character-counting native
//   (LEN, LEFT, RIGHT, MID, FIND, SEARCH, REPLACE).
// - ASC turns the full-width forms of the ASCII characters (U+FF01-U+FF5E) and the ideographic
//   space into their half-width forms; DBCS (also JIS) turns them the other way. Katakana keep
//   their width.
// - PHONETIC gives the text of the cells of its reference joined: the headless workbook keeps no
//   phonetic guides, and a cell without one shows its own text. Numbers and blanks give nothing.
// - BAHTTEXT writes the number rounded to satang in Thai words: baht, then satang or the word
//   for "exactly"; a negative number begins with the word for "minus".
#include <cmath>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "hosts/headless/functions/host_arguments.h"
#include "hosts/headless/functions/host_functions.h"
#include "model/address.h"

namespace korvel {
namespace {

constexpr char16_t kLen[] = u"LEN";
constexpr char16_t kLeft[] = u"LEFT";
constexpr char16_t kRight[] = u"RIGHT";
constexpr char16_t kMid[] = u"MID";
constexpr char16_t kFind[] = u"FIND";
constexpr char16_t kSearch[] = u"SEARCH";
constexpr char16_t kReplace[] = u"REPLACE";

// The native of that name, one-cell references read first: a call by name hands its references
// over as they are, where the natives expect the values of their value-class arguments.
template <const char16_t* kName>
void byteCounting(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<Value> values;
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    const Value& given = *arguments[i];
    values.push_back(given.isReference() ? singleValue(context, &given) : given);
  }
  std::vector<const Value*> passed;
  for (const Value& value : values) passed.push_back(&value);
  passed.push_back(nullptr);
  callNative(kName, context, passed.data(), result);
}

bool oneText(CallContext& context, const Value* const* arguments, std::u16string* text,
             Value& result) {
  if (argumentCount(arguments) != 1) {
    result.setError(kErrorValue);
    return false;
  }
  Value value = singleValue(context, arguments[0]);
  if (value.isError()) {
    result = value;
    return false;
  }
  *text = toText(value);
  return true;
}

constexpr char16_t kIdeographicSpace = 0x3000;
constexpr char16_t kFullWidthFirst = 0xFF01;  // the full-width "!"
constexpr char16_t kFullWidthLast = 0xFF5E;   // the full-width "~"
constexpr char16_t kFullWidthOffset = 0xFF01 - 0x21;

void halfWidth(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!oneText(context, arguments, &text, result)) return;
  for (char16_t& c : text) {
    if (c >= kFullWidthFirst && c <= kFullWidthLast) c = char16_t(c - kFullWidthOffset);
    if (c == kIdeographicSpace) c = u' ';
  }
  result.setText(text);
}

void fullWidth(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!oneText(context, arguments, &text, result)) return;
  for (char16_t& c : text) {
    if (c >= 0x21 && c <= 0x7E) c = char16_t(c + kFullWidthOffset);
    if (c == u' ') c = kIdeographicSpace;
  }
  result.setText(text);
}

void phonetic(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* argument = argumentAt(arguments, 0);
  if (argumentCount(arguments) != 1 || argument == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  if (argument->isError()) {
    result = *argument;
    return;
  }
  if (!argument->isReference()) {
    result.setError(kErrorNA);
    return;
  }
  const RangeRef range = normalizeRange(argument->reference());
  std::u16string text;
  for (uint32_t row = range.first.row(); row <= range.last.row(); ++row) {
    for (uint32_t column = range.first.column(); column <= range.last.column(); ++column) {
      const Value& cell = cellValueAt(context, CellRef::at(range.first.sheet(), row, column));
      if (cell.isText()) text += cell.text();
    }
  }
  result.setText(text);
}

// ---- BAHTTEXT ------------------------------------------------------------------------------

constexpr const char16_t* kThaiDigits[] = {u"ศูนย์", u"หนึ่ง", u"สอง", u"สาม", u"สี่",
                                           u"ห้า",  u"หก",  u"เจ็ด", u"แปด", u"เก้า"};
// The words of the places of a group of six digits, units first.
constexpr const char16_t* kThaiPlaces[] = {u"", u"สิบ", u"ร้อย", u"พัน", u"หมื่น", u"แสน"};
constexpr char16_t kThaiMillion[] = u"ล้าน";
constexpr char16_t kThaiOneAfterTens[] = u"เอ็ด";  // a final one after other digits
constexpr char16_t kThaiTwenty[] = u"ยี่";          // two in the tens place
constexpr char16_t kThaiBaht[] = u"บาท";
constexpr char16_t kThaiSatang[] = u"สตางค์";
constexpr char16_t kThaiExactly[] = u"ถ้วน";
constexpr char16_t kThaiMinus[] = u"ลบ";

// Thai words of a whole number below 10^6; more digits read as millions of the groups before.
std::u16string thaiWords(uint64_t number) {
  if (number >= 1000000) {
    std::u16string millions = thaiWords(number / 1000000) + kThaiMillion;
    return number % 1000000 == 0 ? millions : millions + thaiWords(number % 1000000);
  }
  std::u16string words;
  int placeDigits[6] = {};
  for (int place = 0; place < 6; ++place) {
    placeDigits[place] = int(number % 10);
    number /= 10;
  }
  bool higher = false;
  for (int place = 5; place >= 0; --place) {
    const int digit = placeDigits[place];
    if (digit == 0) continue;
    if (place == 1 && digit == 1) {
      words += kThaiPlaces[1];
    } else if (place == 1 && digit == 2) {
      words += std::u16string(kThaiTwenty) + kThaiPlaces[1];
    } else if (place == 0 && digit == 1 && higher) {
      words += kThaiOneAfterTens;
    } else {
      words += std::u16string(kThaiDigits[digit]) + kThaiPlaces[place];
    }
    higher = true;
  }
  return words;
}

void bahtText(CallContext& context, const Value* const* arguments, Value& result) {
  if (argumentCount(arguments) != 1) {
    result.setError(kErrorValue);
    return;
  }
  double number = 0;
  if (!hostNumberOf(context, singleValue(context, arguments[0]), &number, result)) return;
  const double satangTotal = std::round(std::fabs(number) * 100);
  if (satangTotal >= 1e17) {
    result.setError(kErrorNum);
    return;
  }
  const uint64_t whole = uint64_t(satangTotal) / 100;
  const uint64_t satang = uint64_t(satangTotal) % 100;
  std::u16string text = number < 0 && satangTotal > 0 ? kThaiMinus : u"";
  if (whole > 0) text += thaiWords(whole) + kThaiBaht;
  if (satang > 0) {
    text += thaiWords(satang) + kThaiSatang;
  } else {
    if (whole == 0) text += std::u16string(kThaiDigits[0]) + kThaiBaht;
    text += kThaiExactly;
  }
  result.setText(text);
}

constexpr NativeEntry kHostLanguageFunctions[] = {
    {u"ASC", halfWidth},
    {u"BAHTTEXT", bahtText},
    {u"DBCS", fullWidth},
    {u"FINDB", byteCounting<kFind>},
    {u"JIS", fullWidth},
    {u"LEFTB", byteCounting<kLeft>},
    {u"LENB", byteCounting<kLen>},
    {u"MIDB", byteCounting<kMid>},
    {u"PHONETIC", phonetic},
    {u"REPLACEB", byteCounting<kReplace>},
    {u"RIGHTB", byteCounting<kRight>},
    {u"SEARCHB", byteCounting<kSearch>},
};

}  // namespace

NativeTable hostLanguageFunctions() { return kHostLanguageFunctions; }

}  // namespace korvel
