// Where an application executable keeps what the launcher unpacks: the workbook resource (type
// named by the launcher, id 1020), the compiled model's chunks ("EXTRSC", from 1200), and the
// launcher's own resources (the settings record and the licence agreement), all in US English.
#ifndef KORVEL_PACKAGING_APPLICATION_RESOURCES_H_
#define KORVEL_PACKAGING_APPLICATION_RESOURCES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

inline constexpr uint32_t kWorkbookResourceId = 1020;
inline constexpr char16_t kModelResourceType[] = u"EXTRSC";
inline constexpr uint32_t kFirstModelResourceId = 1200;
inline constexpr uint32_t kLastModelResourceId = 1400;
// Read by the launcher only; the runtime gets their contents through the command channel.
inline constexpr char16_t kSettingsResourceType[] = u"KVSETTINGS";
inline constexpr char16_t kAgreementResourceType[] = u"KVAGREEMENT";
inline constexpr uint32_t kLauncherResourceId = 1;
// The workbook tag is stored rotated right by this many bits in front of the workbook's bytes.
inline constexpr unsigned kWorkbookTagRotation = 5;

// The workbook resource's type name (kept in the runtime's text table).
std::u16string workbookResourceType();
// The tag of a settings record (its bytes as the runtime keeps them): the u32 at offset 8 of the
// header, 0 for a record too short to hold it.
uint32_t workbookTag(std::string_view settingsRecord);

}  // namespace korvel

#endif  // KORVEL_PACKAGING_APPLICATION_RESOURCES_H_
