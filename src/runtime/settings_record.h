// The application settings record: the per-application options the compiler fixed (name,
// version, information and author texts, option flags, the password and the protection table),
// its reader with the older header layouts, its writer, and the settings the runtime takes from
// it. docs/settings_record.md describes the format.
//
// REQUIRES: used only on the thread that handles host commands.
#ifndef KORVEL_RUNTIME_SETTINGS_RECORD_H_
#define KORVEL_RUNTIME_SETTINGS_RECORD_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Header lengths: the current layout and the older ones the reader converts.
inline constexpr uint16_t kSettingsHeaderLength = 104;
inline constexpr uint16_t kSettingsLayout24 = 24;
inline constexpr uint16_t kSettingsLayout28 = 28;
inline constexpr uint16_t kSettingsLayout72 = 72;
inline constexpr uint16_t kSettingsLayout80 = 80;

// Field offsets of the current header.
inline constexpr size_t kSettingsVersionOffset = 4;
inline constexpr size_t kSettingsFlagsOffset = 24;
inline constexpr size_t kSettingsText1LengthOffset = 26;  // u8
inline constexpr size_t kSettingsText2LengthOffset = 28;  // u16
inline constexpr size_t kSettingsText3LengthOffset = 32;  // u32
inline constexpr size_t kSettingsText4LengthOffset = 36;  // u32
inline constexpr size_t kSettingsList5LengthOffset = 40;  // u32
inline constexpr size_t kSettingsText6LengthOffset = 64;  // u32
inline constexpr size_t kSettingsText7LengthOffset = 72;  // i16
inline constexpr size_t kSettingsText8LengthOffset = 76;  // u32
inline constexpr size_t kSettingsText9LengthOffset = 80;  // u32
inline constexpr size_t kSettingsWriterVersionOffset = 92;

// The fixed bytes between text 7 and text 8.
inline constexpr size_t kSettingsFixedBytes = 12;

// Option flag bits (u16 at kSettingsFlagsOffset). Other bits are kept as they are.
inline constexpr uint16_t kFlagDataExchange = 1u << 0;
inline constexpr uint16_t kFlagSaveAsExecutable = 1u << 3;
inline constexpr uint16_t kFlagScreenStillDuringCalculation = 1u << 4;
inline constexpr uint16_t kFlagShowAtStart = 1u << 6;
inline constexpr uint16_t kFlagImportOverFormulas = 1u << 11;

// Writer versions above this one follow every sheet word of the protection list with a password.
inline constexpr uint32_t kSettingsPasswordsAfterVersion = 0x02000000u;

// Separator written after every element of list 5.
inline constexpr char16_t kSettingsListSeparator = u'|';

// The header in the current layout, without the length fields (the writer takes those from the
// parts). Reserved fields are kept so that a re-written record carries them byte for byte.
struct SettingsHeader {
  // The header length as stored: which layout was read. The writer always writes the current one.
  uint16_t storedLength = kSettingsHeaderLength;
  uint16_t reserved2 = 0;
  // Major in bits 24-31, minor in bits 16-23, build in bits 8-15.
  uint32_t applicationVersion = 0;
  std::array<uint32_t, 4> reserved8{};
  uint16_t optionFlags = 0;
  uint8_t reserved27 = 0;
  uint16_t reserved30 = 0;
  uint16_t reserved44 = 0;
  std::array<uint8_t, 10> reserved46{};
  // An f64 kept as its bits, so that every value, NaNs included, comes back unchanged.
  uint64_t reserved56 = 0;
  uint32_t reserved68 = 0;
  uint16_t reserved74 = 0;
  std::array<uint8_t, 8> reserved84{};
  // Same byte order as the application version; decides the protection list's entry layout.
  uint32_t writerVersion = 0;
  std::array<uint8_t, 8> reserved96{};

  friend bool operator==(const SettingsHeader&, const SettingsHeader&) = default;
};

// One record, its parts in stored order. Parts the runtime does not interpret are kept as the
// bytes they were stored as.
struct SettingsRecord {
  SettingsHeader header;
  std::u16string applicationName;         // text 1
  std::u16string applicationInformation;  // text 2
  std::string scrambledPassword;          // text 3, 8-bit, in the runtime's text scrambling
  std::string text4;                      // carried: UTF-16LE bytes as stored
  std::string list5;                      // carried: UTF-16LE bytes as stored (listTexts splits)
  std::string text6;                      // carried, 8-bit
  std::u16string authorContact;           // text 7
  // The fixed bytes: 12 when the record held them, fewer or none when it ended before.
  // The writer pads them to 12 with zero bytes.
  std::string fixedBytes;
  std::string text8;  // carried, 8-bit
  std::string text9;  // reserved, 8-bit
  // Everything after text 9, as stored. With at least 2 bytes it is the protection list.
  std::string trailingList;

  friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

// The application's sheet and workbook protection. Entry i belongs to the sheet whose host index
// is i + 1; sheetPasswords runs parallel to sheetWords.
struct ProtectionTable {
  uint32_t workbookWord = 0;  // bit 0x1 structure, bit 0x2 windows
  std::vector<uint32_t> sheetWords;
  std::vector<std::string> sheetPasswords;  // 8-bit; empty when none was delivered
  std::string workbookPassword;             // the application password, 8-bit

  friend bool operator==(const ProtectionTable&, const ProtectionTable&) = default;
};

// What parseSettings found.
struct ParsedSettings {
  bool ok = false;
  std::string error;       // why not, when !ok
  bool enveloped = false;  // the bytes were a valid chunk envelope and were unwrapped
  std::string content;     // the record's bytes unwrapped: what the runtime keeps as its copy
  SettingsRecord record;   // meaningful only when ok
};

// The settings the runtime holds after a successful apply.
struct Settings {
  uint32_t applicationVersion = 0;
  bool dataExchange = false;
  bool saveAsExecutable = false;
  bool screenStillDuringCalculation = false;
  bool showAtStart = false;
  bool importOverFormulas = false;
  // Absent until a record brings one (or the workbook's code protects a sheet).
  std::optional<ProtectionTable> protectionTable;
  // Decoded from text 3, one unit per byte.
  std::u16string applicationPassword;
  std::u16string applicationName;
  std::u16string applicationInformation;
  std::u16string authorContact;
  // The whole record, unwrapped.
  std::string settingsCopy;
};

// Reads a record: unwraps a valid chunk envelope, otherwise takes the bytes as they are; converts
// an older header to the current layout; reads the parts. A part whose length field asks for
// more bytes than remain is skipped without moving the position. Fails, with a message in the
// result, only when the bytes are too short for their header length (or for the length field
// itself). Never reads outside `bytes`.
ParsedSettings parseSettings(std::string_view bytes);

// The record in the current layout, not wrapped: the header with length fields taken from the
// parts, then the parts. False with *error, *out empty, when a part does not fit its length
// field (the name or the information text too long); a record read by parseSettings always fits.
// REQUIRES: out and error not null.
bool writeSettingsContent(const SettingsRecord& record, std::string* out, std::string* error);

// writeSettingsContent wrapped in a chunk envelope: the form stored into a saved application.
// REQUIRES: out and error not null.
bool writeSettings(const SettingsRecord& record, std::string* out, std::string* error);

// Copies what the runtime takes from a successfully parsed record into *settings. Does nothing
// and returns false when parsed.ok is false, so a bad record leaves every setting as it was.
// An empty author contact keeps the earlier one; the protection table is replaced only by a
// record whose list has a workbook word or at least one sheet entry.
// REQUIRES: settings not null.
bool applySettings(const ParsedSettings& parsed, Settings* settings);

// The protection list of trailing bytes, read with the entry layout of the writer version.
// Absent below 2 bytes. Fields cut short by the end read as if the missing bytes were 0; the
// count is believed only as far as entries follow, and a password takes at most the bytes left.
std::optional<ProtectionTable> readProtectionList(std::string_view trailing,
                                                  uint32_t writerVersion);
// The trailing bytes of a table (workbook password not stored), for a writer of that version.
std::string writeProtectionList(const ProtectionTable& table, uint32_t writerVersion);

// List 5 split at the separator, empty pieces dropped (an odd last byte is ignored).
std::vector<std::u16string> listTexts(std::string_view list5);
// Every element followed by the separator, as UTF-16LE bytes.
std::string joinListTexts(const std::vector<std::u16string>& texts);

// The runtime's text scrambling of the application password. It keeps the password out of plain
// sight in the executable and is no protection against a determined reader. Scrambling twice
// gives the text back, so the two names are one operation.
std::string scrambleText(std::string_view text);
inline std::string unscrambleText(std::string_view scrambled) { return scrambleText(scrambled); }

}  // namespace korvel

#endif  // KORVEL_RUNTIME_SETTINGS_RECORD_H_
