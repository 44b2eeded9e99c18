#include "runtime/settings_record.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "model/envelope.h"
#include "util/text.h"

namespace korvel {
namespace {

using HeaderBytes = std::array<uint8_t, kSettingsHeaderLength>;

// Bytes past the end of `bytes` read as 0: the caller has already decided how much is there.
uint64_t getLittleEndian(std::string_view bytes, size_t offset, size_t width) {
  uint64_t v = 0;
  for (size_t i = width; i-- > 0;) {
    uint8_t b = offset + i < bytes.size() ? static_cast<uint8_t>(bytes[offset + i]) : 0;
    v = (v << 8) | b;
  }
  return v;
}

uint64_t getField(const HeaderBytes& h, size_t offset, size_t width) {
  uint64_t v = 0;
  for (size_t i = width; i-- > 0;) v = (v << 8) | h[offset + i];
  return v;
}

void putField(HeaderBytes& h, size_t offset, size_t width, uint64_t v) {
  for (size_t i = 0; i < width; ++i) h[offset + i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

void appendLittleEndian(std::string* out, uint64_t v, size_t width) {
  for (size_t i = 0; i < width; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

template <size_t N>
void getBytes(const HeaderBytes& h, size_t offset, std::array<uint8_t, N>* out) {
  std::copy_n(h.begin() + offset, N, out->begin());
}

template <size_t N>
void putBytes(HeaderBytes& h, size_t offset, const std::array<uint8_t, N>& bytes) {
  std::copy(bytes.begin(), bytes.end(), h.begin() + offset);
}

std::u16string utf16FromBytes(std::string_view bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(getLittleEndian(bytes, 2 * i, 2));
  }
  return text;
}

void appendUtf16(std::string* out, std::u16string_view text) {
  for (char16_t unit : text) appendLittleEndian(out, unit, 2);
}

// The older layouts kept the fields they had at other offsets; everything they lacked reads as 0.
HeaderBytes normalizeHeader(std::string_view bytes, uint16_t length) {
  HeaderBytes raw{};
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), raw.size()), raw.begin());
  if (length == kSettingsHeaderLength) return raw;
  HeaderBytes h{};
  auto move = [&](size_t from, size_t to, size_t width) {
    std::copy_n(raw.begin() + from, width, h.begin() + to);
  };
  move(0, 0, 2);
  switch (length) {
    case kSettingsLayout24:
      move(4, 4, 12);
      move(16, 24, 2);
      move(18, 26, 1);
      move(20, 28, 2);
      break;
    case kSettingsLayout28:
      move(4, 4, 16);
      move(20, 24, 2);
      move(22, 26, 1);
      move(24, 28, 2);
      break;
    case kSettingsLayout72:
    case kSettingsLayout80:
      move(4, 4, 20);
      move(24, 24, 2);
      move(26, 26, 1);
      move(28, 28, 2);
      move(32, 32, 12);
      move(44, 44, 2);
      move(48, 56, 8);
      move(56, 64, 2);  // a u16 then, a u32 now: the high half stays 0
      move(60, 68, 4);
      move(64, 72, 2);
      move(68, 76, 4);
      if (length == kSettingsLayout80) move(72, 80, 4);
      break;
    default:
      // An unknown shorter layout is taken at the current offsets as far as it goes; an unknown
      // longer one has nothing this reader could place.
      if (length > 2 && length < kSettingsHeaderLength) move(2, 2, length - 2);
      break;
  }
  return h;
}

SettingsHeader decodeHeader(const HeaderBytes& h) {
  SettingsHeader header;
  header.storedLength = static_cast<uint16_t>(getField(h, 0, 2));
  header.reserved2 = static_cast<uint16_t>(getField(h, 2, 2));
  header.applicationVersion = static_cast<uint32_t>(getField(h, kSettingsVersionOffset, 4));
  for (size_t i = 0; i < header.reserved8.size(); ++i) {
    header.reserved8[i] = static_cast<uint32_t>(getField(h, 8 + 4 * i, 4));
  }
  header.optionFlags = static_cast<uint16_t>(getField(h, kSettingsFlagsOffset, 2));
  header.reserved27 = h[27];
  header.reserved30 = static_cast<uint16_t>(getField(h, 30, 2));
  header.reserved44 = static_cast<uint16_t>(getField(h, 44, 2));
  getBytes(h, 46, &header.reserved46);
  header.reserved56 = getField(h, 56, 8);
  header.reserved68 = static_cast<uint32_t>(getField(h, 68, 4));
  header.reserved74 = static_cast<uint16_t>(getField(h, 74, 2));
  getBytes(h, 84, &header.reserved84);
  header.writerVersion = static_cast<uint32_t>(getField(h, kSettingsWriterVersionOffset, 4));
  getBytes(h, 96, &header.reserved96);
  return header;
}

HeaderBytes encodeHeader(const SettingsHeader& header) {
  HeaderBytes h{};
  putField(h, 0, 2, kSettingsHeaderLength);
  putField(h, 2, 2, header.reserved2);
  putField(h, kSettingsVersionOffset, 4, header.applicationVersion);
  for (size_t i = 0; i < header.reserved8.size(); ++i)
    putField(h, 8 + 4 * i, 4, header.reserved8[i]);
  putField(h, kSettingsFlagsOffset, 2, header.optionFlags);
  h[27] = header.reserved27;
  putField(h, 30, 2, header.reserved30);
  putField(h, 44, 2, header.reserved44);
  putBytes(h, 46, header.reserved46);
  putField(h, 56, 8, header.reserved56);
  putField(h, 68, 4, header.reserved68);
  putField(h, 74, 2, header.reserved74);
  putBytes(h, 84, header.reserved84);
  putField(h, kSettingsWriterVersionOffset, 4, header.writerVersion);
  putBytes(h, 96, header.reserved96);
  return h;
}

// Reads the parts in stored order. A part is read only when all of it is there: one whose length
// runs past the end is skipped without moving the position, and the parts after it are read from
// where it would have begun, as records written by older compilers expect.
class PartReader {
 public:
  PartReader(std::string_view content, size_t position) : content_(content), position_(position) {}

  std::string_view take(uint64_t length) {
    if (length > content_.size() - position_) return {};
    std::string_view part = content_.substr(position_, static_cast<size_t>(length));
    position_ += static_cast<size_t>(length);
    return part;
  }
  std::string_view rest() { return take(content_.size() - position_); }

 private:
  std::string_view content_;
  size_t position_;
};

}  // namespace

ParsedSettings parseSettings(std::string_view bytes) {
  ParsedSettings parsed;
  if (decodeEnvelope(bytes, &parsed.content) > 0) {
    parsed.enveloped = true;
  } else {
    parsed.content.assign(bytes);
  }
  std::string_view content = parsed.content;
  if (content.size() < 2) {
    parsed.error =
        "settings record of " + std::to_string(content.size()) + " bytes has no header length";
    return parsed;
  }
  const uint16_t length = static_cast<uint16_t>(getLittleEndian(content, 0, 2));
  if (content.size() < length) {
    parsed.error = "settings record of " + std::to_string(content.size()) +
                   " bytes is shorter than its header length " + std::to_string(length);
    return parsed;
  }
  const HeaderBytes h = normalizeHeader(content, length);
  SettingsRecord& record = parsed.record;
  record.header = decodeHeader(h);

  // Text 7's length is a signed field; a negative one announces nothing.
  const int16_t text7Length = static_cast<int16_t>(getField(h, kSettingsText7LengthOffset, 2));
  PartReader reader(content, length);
  record.applicationName = utf16FromBytes(reader.take(getField(h, kSettingsText1LengthOffset, 1)));
  record.applicationInformation =
      utf16FromBytes(reader.take(getField(h, kSettingsText2LengthOffset, 2)));
  record.scrambledPassword = reader.take(getField(h, kSettingsText3LengthOffset, 4));
  record.text4 = reader.take(getField(h, kSettingsText4LengthOffset, 4));
  record.list5 = reader.take(getField(h, kSettingsList5LengthOffset, 4));
  record.text6 = reader.take(getField(h, kSettingsText6LengthOffset, 4));
  record.authorContact = utf16FromBytes(reader.take(text7Length > 0 ? text7Length : 0));
  record.fixedBytes = reader.take(kSettingsFixedBytes);
  record.text8 = reader.take(getField(h, kSettingsText8LengthOffset, 4));
  record.text9 = reader.take(getField(h, kSettingsText9LengthOffset, 4));
  record.trailingList = reader.rest();
  parsed.ok = true;
  return parsed;
}

bool writeSettingsContent(const SettingsRecord& record, std::string* out, std::string* error) {
  out->clear();
  // Each length must fit the field the reader takes it from: a cut length with the whole part
  // behind it would shift every later part.
  struct Fit {
    const char* part;
    uint64_t bytes;
    uint64_t limit;
  };
  const uint64_t u32Max = std::numeric_limits<uint32_t>::max();
  const Fit fits[] = {
      {"application name", 2 * uint64_t{record.applicationName.size()}, 0xFF},
      {"application information", 2 * uint64_t{record.applicationInformation.size()}, 0xFFFF},
      {"password", record.scrambledPassword.size(), u32Max},
      {"text 4", record.text4.size(), u32Max},
      {"list 5", record.list5.size(), u32Max},
      {"text 6", record.text6.size(), u32Max},
      {"author contact", 2 * uint64_t{record.authorContact.size()}, 0x7FFF},
      {"fixed bytes", record.fixedBytes.size(), kSettingsFixedBytes},
      {"text 8", record.text8.size(), u32Max},
      {"text 9", record.text9.size(), u32Max},
  };
  for (const Fit& fit : fits) {
    if (fit.bytes > fit.limit) {
      *error = std::string("settings ") + fit.part + " of " + std::to_string(fit.bytes) +
               " bytes does not fit its length field (at most " + std::to_string(fit.limit) + ")";
      return false;
    }
  }

  HeaderBytes h = encodeHeader(record.header);
  putField(h, kSettingsText1LengthOffset, 1, 2 * record.applicationName.size());
  putField(h, kSettingsText2LengthOffset, 2, 2 * record.applicationInformation.size());
  putField(h, kSettingsText3LengthOffset, 4, record.scrambledPassword.size());
  putField(h, kSettingsText4LengthOffset, 4, record.text4.size());
  putField(h, kSettingsList5LengthOffset, 4, record.list5.size());
  putField(h, kSettingsText6LengthOffset, 4, record.text6.size());
  putField(h, kSettingsText7LengthOffset, 2, 2 * record.authorContact.size());
  putField(h, kSettingsText8LengthOffset, 4, record.text8.size());
  putField(h, kSettingsText9LengthOffset, 4, record.text9.size());

  out->append(reinterpret_cast<const char*>(h.data()), h.size());
  appendUtf16(out, record.applicationName);
  appendUtf16(out, record.applicationInformation);
  out->append(record.scrambledPassword);
  out->append(record.text4);
  out->append(record.list5);
  out->append(record.text6);
  appendUtf16(out, record.authorContact);
  out->append(record.fixedBytes);
  out->append(kSettingsFixedBytes - record.fixedBytes.size(), '\0');
  out->append(record.text8);
  out->append(record.text9);
  out->append(record.trailingList);
  return true;
}

bool writeSettings(const SettingsRecord& record, std::string* out, std::string* error) {
  std::string content;
  if (!writeSettingsContent(record, &content, error)) {
    out->clear();
    return false;
  }
  if (!encodeEnvelope(content, out)) {
    *error = "settings record of " + std::to_string(content.size()) + " bytes cannot be wrapped";
    return false;
  }
  return true;
}

bool applySettings(const ParsedSettings& parsed, Settings* settings) {
  if (!parsed.ok) return false;
  const SettingsRecord& record = parsed.record;
  const uint16_t flags = record.header.optionFlags;
  settings->applicationVersion = record.header.applicationVersion;
  settings->dataExchange = (flags & kFlagDataExchange) != 0;
  settings->saveAsExecutable = (flags & kFlagSaveAsExecutable) != 0;
  settings->screenStillDuringCalculation = (flags & kFlagScreenStillDuringCalculation) != 0;
  settings->showAtStart = (flags & kFlagShowAtStart) != 0;
  settings->importOverFormulas = (flags & kFlagImportOverFormulas) != 0;
  settings->applicationName = record.applicationName;
  settings->applicationInformation = record.applicationInformation;
  if (!record.authorContact.empty()) settings->authorContact = record.authorContact;

  const std::string password = unscrambleText(record.scrambledPassword);
  settings->applicationPassword.clear();
  for (char byte : password) {
    settings->applicationPassword.push_back(static_cast<unsigned char>(byte));
  }
  std::optional<ProtectionTable> table =
      readProtectionList(record.trailingList, record.header.writerVersion);
  if (table && (table->workbookWord != 0 || !table->sheetWords.empty())) {
    if (!password.empty()) table->workbookPassword = password;
    settings->protectionTable = std::move(*table);
  }
  settings->settingsCopy = parsed.content;
  return true;
}

std::optional<ProtectionTable> readProtectionList(std::string_view trailing,
                                                  uint32_t writerVersion) {
  if (trailing.size() < 2) return std::nullopt;
  size_t position = 0;
  auto field = [&]() {
    uint32_t v = static_cast<uint32_t>(getLittleEndian(trailing, position, 4));
    position = std::min(position + 4, trailing.size());
    return v;
  };
  const bool passwords = writerVersion > kSettingsPasswordsAfterVersion;
  ProtectionTable table;
  table.workbookWord = field();
  const uint32_t count = field();
  // Nothing is reserved from the count: it is believed only entry by entry.
  for (uint32_t i = 0; i < count && trailing.size() - position >= 4; ++i) {
    table.sheetWords.push_back(field());
    std::string password;
    if (passwords) {
      const uint32_t length = field();
      const size_t n = std::min<size_t>(length, trailing.size() - position);
      password.assign(trailing.substr(position, n));
      position += n;
    }
    table.sheetPasswords.push_back(std::move(password));
  }
  return table;
}

std::string writeProtectionList(const ProtectionTable& table, uint32_t writerVersion) {
  std::string out;
  appendLittleEndian(&out, table.workbookWord, 4);
  appendLittleEndian(&out, table.sheetWords.size(), 4);
  const bool passwords = writerVersion > kSettingsPasswordsAfterVersion;
  for (size_t i = 0; i < table.sheetWords.size(); ++i) {
    appendLittleEndian(&out, table.sheetWords[i], 4);
    if (passwords) {
      const std::string empty;
      const std::string& password =
          i < table.sheetPasswords.size() ? table.sheetPasswords[i] : empty;
      appendLittleEndian(&out, password.size(), 4);
      out.append(password);
    }
  }
  return out;
}

std::vector<std::u16string> listTexts(std::string_view list5) {
  const std::u16string text = utf16FromBytes(list5);
  return split(text, std::u16string_view(&kSettingsListSeparator, 1), /*dropEmpty=*/true);
}

std::string joinListTexts(const std::vector<std::u16string>& texts) {
  std::string out;
  for (const std::u16string& text : texts) {
    appendUtf16(&out, text);
    appendLittleEndian(&out, kSettingsListSeparator, 2);
  }
  return out;
}

std::string scrambleText(std::string_view text) {
  static constexpr uint8_t kKey[] = {0x5B, 0xC2, 0x17, 0x8E, 0x43, 0xF9, 0x26, 0xA1,
                                     0x6D, 0x3C, 0xE4, 0x91, 0x08, 0x7F, 0xB5, 0xD3};
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    const uint8_t mask = kKey[i % sizeof(kKey)] ^ static_cast<uint8_t>(i * 0x9D);
    out[i] = static_cast<char>(static_cast<uint8_t>(out[i]) ^ mask);
  }
  return out;
}

}  // namespace korvel
