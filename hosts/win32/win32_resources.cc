#include "hosts/win32/win32_resources.h"

#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "util/text.h"

namespace korvel::win32 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// A type or name as the update functions take it: a text, or a number in place of the pointer.
struct ResourceName {
  std::u16string name;
  WORD number = 0;
  const wchar_t* get() const {
    return number != 0 ? MAKEINTRESOURCEW(number) : reinterpret_cast<const wchar_t*>(name.c_str());
  }
};

ResourceName nameOf(const wchar_t* name) {
  ResourceName result;
  if (IS_INTRESOURCE(name)) {
    result.number = LOWORD(reinterpret_cast<uintptr_t>(name));
  } else {
    result.name = reinterpret_cast<const char16_t*>(name);
  }
  return result;
}

// The type the runtime names. A name is kept in upper case: the system looks resources up by the
// upper-cased name, so a name stored in lower case could never be found. "#" and a number is the
// numbered type, read the way the system reads such a name.
std::optional<ResourceName> resourceType(std::u16string_view type) {
  if (type.empty() || type.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  ResourceName result;
  if (type.front() == u'#') {
    uint32_t number = 0;
    std::u16string_view digits = type.substr(1);
    for (char16_t unit : digits) {
      if (!isDigit(unit) || number > 0xFFFF) return std::nullopt;
      number = number * 10 + (unit - u'0');
    }
    if (digits.empty() || number == 0 || number > 0xFFFF) return std::nullopt;
    result.number = WORD(number);
    return result;
  }
  std::u16string name(type);
  int length =
      LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE,
                   reinterpret_cast<const wchar_t*>(name.c_str()), int(name.size()), nullptr, 0);
  if (length <= 0) return std::nullopt;
  result.name.assign(size_t(length), u'\0');
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE,
                   reinterpret_cast<const wchar_t*>(name.c_str()), int(name.size()),
                   reinterpret_cast<wchar_t*>(result.name.data()), length) <= 0) {
    return std::nullopt;
  }
  return result;
}

// The update functions take a null block as a removal; an empty resource still needs an address.
void* blockOf(std::string_view bytes) {
  static char empty = 0;
  return bytes.empty() ? &empty : const_cast<char*>(bytes.data());
}

struct ExistingResource {
  ResourceName type;
  ResourceName name;
  WORD language = 0;
  std::string bytes;
};

// A resource the runtime can address: its type, numbered name and language.
using ResourceKey = std::tuple<std::u16string, WORD, WORD, WORD>;

ResourceKey keyOf(const ResourceName& type, WORD id, WORD language) {
  return {type.name, type.number, id, language};
}

// Gathers every resource of a module loaded as data; ok turns false when one cannot be read.
struct ResourceReader {
  std::vector<ExistingResource> resources;
  bool ok = true;
  ResourceName type;
  ResourceName name;
};

// An enumeration that found nothing answers false too, with one of these or no error at all.
bool foundNothing(DWORD error) {
  return error == ERROR_SUCCESS || error == ERROR_RESOURCE_DATA_NOT_FOUND ||
         error == ERROR_RESOURCE_TYPE_NOT_FOUND || error == ERROR_RESOURCE_NAME_NOT_FOUND ||
         error == ERROR_RESOURCE_LANG_NOT_FOUND;
}

BOOL CALLBACK visitLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                            LONG_PTR context) {
  auto* reader = reinterpret_cast<ResourceReader*>(context);
  HRSRC found = FindResourceExW(module, type, name, language);
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  DWORD size = found != nullptr ? SizeofResource(module, found) : 0;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (found == nullptr || (data == nullptr && size != 0)) {
    reader->ok = false;
    return FALSE;
  }
  ExistingResource resource{reader->type, reader->name, language, {}};
  if (data != nullptr) resource.bytes.assign(static_cast<const char*>(data), size);
  reader->resources.push_back(std::move(resource));
  return TRUE;
}

BOOL CALLBACK visitName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
  auto* reader = reinterpret_cast<ResourceReader*>(context);
  reader->name = nameOf(name);
  // A name left without languages (what removing an absent resource leaves on some systems)
  // enumerates as a failure with nothing visited.
  if (!EnumResourceLanguagesW(module, type, name, visitLanguage, context) &&
      !foundNothing(GetLastError())) {
    reader->ok = false;
  }
  return reader->ok;
}

BOOL CALLBACK visitType(HMODULE module, LPWSTR type, LONG_PTR context) {
  auto* reader = reinterpret_cast<ResourceReader*>(context);
  reader->type = nameOf(type);
  if (!EnumResourceNamesW(module, type, visitName, context) && !foundNothing(GetLastError())) {
    reader->ok = false;
  }
  return reader->ok;
}

// Every resource of the executable; none when the file cannot be read as an executable or one of
// its resources cannot be read.
std::optional<std::vector<ExistingResource>> existingResources(const wchar_t* path) {
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return std::nullopt;
  ResourceReader reader;
  SetLastError(ERROR_SUCCESS);
  if (!EnumResourceTypesW(module, visitType, reinterpret_cast<LONG_PTR>(&reader)) &&
      !foundNothing(GetLastError())) {
    reader.ok = false;
  }
  FreeLibrary(module);
  if (!reader.ok) return std::nullopt;
  return std::move(reader.resources);
}

class Win32ResourceUpdate : public ResourceUpdate {
 public:
  // present: the resources the session holds, or none when they are not known.
  Win32ResourceUpdate(HANDLE handle, std::optional<std::set<ResourceKey>> present)
      : handle_(handle), present_(std::move(present)) {}
  ~Win32ResourceUpdate() override {
    if (handle_ != nullptr) EndUpdateResourceW(handle_, TRUE);
  }
  Win32ResourceUpdate(const Win32ResourceUpdate&) = delete;
  Win32ResourceUpdate& operator=(const Win32ResourceUpdate&) = delete;

  bool update(std::u16string_view type, uint32_t id, uint16_t language,
              std::string_view bytes) override {
    std::optional<ResourceName> name = resourceType(type);
    if (handle_ == nullptr || !name || id == 0 || id > 0xFFFF || bytes.size() > MAXDWORD) {
      return false;
    }
    if (!UpdateResourceW(handle_, name->get(), MAKEINTRESOURCEW(id), language, blockOf(bytes),
                         DWORD(bytes.size()))) {
      return false;
    }
    if (present_) present_->insert(keyOf(*name, WORD(id), language));
    return true;
  }

  bool remove(std::u16string_view type, uint32_t id, uint16_t language) override {
    std::optional<ResourceName> name = resourceType(type);
    if (handle_ == nullptr) return false;
    // A resource the system cannot name cannot be in the file either.
    if (!name || id == 0 || id > 0xFFFF) return true;
    // Removing an absent resource is not asked of the system: some versions leave an empty entry
    // for it in the file.
    if (present_ && present_->erase(keyOf(*name, WORD(id), language)) == 0) return true;
    if (UpdateResourceW(handle_, name->get(), MAKEINTRESOURCEW(id), language, nullptr, 0)) {
      return true;
    }
    DWORD error = GetLastError();
    return error == ERROR_RESOURCE_TYPE_NOT_FOUND || error == ERROR_RESOURCE_NAME_NOT_FOUND ||
           error == ERROR_RESOURCE_LANG_NOT_FOUND;
  }

  bool end(bool commit) override {
    if (handle_ == nullptr) return false;
    HANDLE handle = handle_;
    handle_ = nullptr;
    return EndUpdateResourceW(handle, commit ? FALSE : TRUE) || !commit;
  }

 private:
  HANDLE handle_;
  std::optional<std::set<ResourceKey>> present_;
};

}  // namespace

std::unique_ptr<ResourceUpdate> Win32Resources::beginUpdate(const std::u16string& executable,
                                                            bool keepExisting) {
  if (executable.empty() || executable.find(u'\0') != std::u16string::npos) return nullptr;
  auto path = reinterpret_cast<const wchar_t*>(executable.c_str());
  std::set<ResourceKey> present;
  if (!keepExisting) {
    HANDLE handle = BeginUpdateResourceW(path, TRUE);
    if (handle == nullptr) return nullptr;
    return std::make_unique<Win32ResourceUpdate>(handle, std::move(present));
  }
  // The existing resources are kept by copying them into a session that starts empty, rather than
  // by the system: some versions of the system remove only what the same session added, and the
  // runtime removes resources of an earlier save. A file whose resources cannot be read is left to
  // the system's own keeping.
  std::optional<std::vector<ExistingResource>> existing = existingResources(path);
  if (!existing) {
    HANDLE handle = BeginUpdateResourceW(path, FALSE);
    if (handle == nullptr) return nullptr;
    return std::make_unique<Win32ResourceUpdate>(handle, std::nullopt);
  }
  HANDLE handle = BeginUpdateResourceW(path, TRUE);
  if (handle == nullptr) return nullptr;
  for (const ExistingResource& resource : *existing) {
    if (!UpdateResourceW(handle, resource.type.get(), resource.name.get(), resource.language,
                         blockOf(resource.bytes), DWORD(resource.bytes.size()))) {
      EndUpdateResourceW(handle, TRUE);
      return nullptr;
    }
    if (resource.name.number != 0) {
      present.insert(keyOf(resource.type, resource.name.number, resource.language));
    }
  }
  return std::make_unique<Win32ResourceUpdate>(handle, std::move(present));
}

}  // namespace korvel::win32
