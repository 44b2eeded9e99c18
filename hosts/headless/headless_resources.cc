#include "hosts/headless/headless_resources.h"

#include <cstdint>
#include <string>
#include <utility>

#include "util/text.h"

namespace korvel {

namespace {

constexpr char kMagic[4] = {'K', 'V', 'A', 'F'};
constexpr uint16_t kVersion = 1;
constexpr size_t kHeaderLength = 12;
// Type length, id, language, data offset, data size: the fixed part of an entry.
constexpr size_t kEntryFixedLength = 2 + 4 + 2 + 4 + 4;

void putU16(std::string* out, uint16_t value) {
  out->push_back(char(value & 0xFF));
  out->push_back(char(value >> 8));
}

void putU32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(char((value >> (8 * i)) & 0xFF));
}

// Little-endian reads that refuse to go past the end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  size_t remaining() const { return bytes_.size() - position_; }
  void skip(size_t n) { position_ += n < remaining() ? n : remaining(); }
  bool u16(uint16_t* value) {
    if (remaining() < 2) return false;
    *value = uint16_t(byte(0) | byte(1) << 8);
    position_ += 2;
    return true;
  }
  bool u32(uint32_t* value) {
    if (remaining() < 4) return false;
    *value = byte(0) | byte(1) << 8 | byte(2) << 16 | uint32_t(byte(3)) << 24;
    position_ += 4;
    return true;
  }

 private:
  uint32_t byte(size_t i) const { return uint8_t(bytes_[position_ + i]); }
  std::string_view bytes_;
  size_t position_ = 0;
};

bool sameEntry(const ResourceEntry& entry, std::u16string_view type, uint32_t id,
               uint16_t language) {
  return entry.id == id && entry.language == language && equalsNoCase(entry.type, type);
}

class HeadlessResourceUpdate : public ResourceUpdate {
 public:
  HeadlessResourceUpdate(Files& files, std::u16string path, std::vector<ResourceEntry> entries)
      : files_(files), path_(std::move(path)), entries_(std::move(entries)) {}

  bool update(std::u16string_view type, uint32_t id, uint16_t language,
              std::string_view bytes) override {
    if (ended_ || type.empty() || type.size() > 0xFFFF || bytes.size() > UINT32_MAX) return false;
    for (ResourceEntry& entry : entries_) {
      if (sameEntry(entry, type, id, language)) {
        entry.bytes.assign(bytes);
        return true;
      }
    }
    entries_.push_back({std::u16string(type), id, language, std::string(bytes)});
    return true;
  }

  bool remove(std::u16string_view type, uint32_t id, uint16_t language) override {
    if (ended_) return false;
    std::erase_if(entries_,
                  [&](const ResourceEntry& entry) { return sameEntry(entry, type, id, language); });
    return true;
  }

  bool end(bool commit) override {
    if (ended_) return false;
    ended_ = true;
    if (!commit) return true;
    std::string bytes = encodeApplicationFile(entries_);
    if (bytes.empty()) return false;
    // The port's writer replaces the file whole, so a reader sees the old or the new file.
    return files_.writeAll(path_, bytes);
  }

 private:
  Files& files_;
  std::u16string path_;
  std::vector<ResourceEntry> entries_;
  bool ended_ = false;
};

}  // namespace

std::string encodeApplicationFile(const std::vector<ResourceEntry>& entries) {
  size_t tableLength = 0;
  uint64_t dataLength = 0;
  for (const ResourceEntry& entry : entries) {
    if (entry.type.empty() || entry.type.size() > 0xFFFF) return {};
    tableLength += kEntryFixedLength + 2 * entry.type.size();
    dataLength += entry.bytes.size();
  }
  if (entries.size() > UINT32_MAX || kHeaderLength + tableLength + dataLength > UINT32_MAX) {
    return {};
  }
  std::string out(kMagic, sizeof(kMagic));
  putU16(&out, kVersion);
  putU16(&out, 0);
  putU32(&out, uint32_t(entries.size()));
  uint32_t offset = uint32_t(kHeaderLength + tableLength);
  for (const ResourceEntry& entry : entries) {
    putU16(&out, uint16_t(entry.type.size()));
    for (char16_t unit : entry.type) putU16(&out, uint16_t(unit));
    putU32(&out, entry.id);
    putU16(&out, entry.language);
    putU32(&out, offset);
    putU32(&out, uint32_t(entry.bytes.size()));
    offset += uint32_t(entry.bytes.size());
  }
  for (const ResourceEntry& entry : entries) out += entry.bytes;
  return out;
}

bool decodeApplicationFile(std::string_view bytes, std::vector<ResourceEntry>* entries,
                           std::string* error) {
  entries->clear();
  if (bytes.size() < kHeaderLength || bytes.substr(0, 4) != std::string_view(kMagic, 4)) {
    *error = "not an application file (no KVAF header)";
    return false;
  }
  Reader reader(bytes);
  reader.skip(4);
  uint16_t version = 0, flags = 0;
  uint32_t count = 0;
  reader.u16(&version);
  reader.u16(&flags);
  reader.u32(&count);
  if (version != kVersion) {
    *error = "application file version " + std::to_string(version) + " is not supported";
    return false;
  }
  // Every entry takes at least its fixed part, so a count the table cannot hold is refused before
  // anything is reserved for it.
  if (count > reader.remaining() / kEntryFixedLength) {
    *error = "application file entry count " + std::to_string(count) + " exceeds the file";
    return false;
  }
  std::vector<ResourceEntry> read;
  read.reserve(count);
  // Entries may name the same bytes: without a bound, a small file whose entries all name its
  // whole length would be copied once per entry.
  uint64_t copied = 0;
  for (uint32_t i = 0; i < count; ++i) {
    ResourceEntry entry;
    uint16_t typeLength = 0;
    uint32_t offset = 0, size = 0;
    bool ok = reader.u16(&typeLength) && typeLength > 0 && reader.remaining() >= 2u * typeLength;
    for (uint16_t u = 0; ok && u < typeLength; ++u) {
      uint16_t unit = 0;
      reader.u16(&unit);
      entry.type.push_back(char16_t(unit));
    }
    ok = ok && reader.u32(&entry.id) && reader.u16(&entry.language) && reader.u32(&offset) &&
         reader.u32(&size);
    if (!ok) {
      *error = "application file entry " + std::to_string(i) + " is cut short";
      return false;
    }
    if (offset > bytes.size() || size > bytes.size() - offset) {
      *error = "application file entry " + std::to_string(i) + " lies outside the file";
      return false;
    }
    copied += size;
    if (copied > bytes.size()) {
      *error = "application file entry " + std::to_string(i) +
               ": the entries take more bytes than the file holds";
      return false;
    }
    entry.bytes.assign(bytes.substr(offset, size));
    read.push_back(std::move(entry));
  }
  *entries = std::move(read);
  return true;
}

bool readApplicationFile(const Files& files, const std::u16string& path,
                         std::vector<ResourceEntry>* entries, std::string* error) {
  entries->clear();
  uint64_t size = 0;
  if (files.size(path, &size) && size > kApplicationFileMaxBytes) {
    *error = toUtf8(path) + ": the application file is larger than " +
             std::to_string(kApplicationFileMaxBytes >> 20) +
             " MiB, more than its 32-bit offsets can address";
    return false;
  }
  std::string bytes;
  if (!files.readAll(path, &bytes)) {
    *error = "cannot read " + toUtf8(path);
    return false;
  }
  return decodeApplicationFile(bytes, entries, error);
}

const ResourceEntry* findResource(const std::vector<ResourceEntry>& entries,
                                  std::u16string_view type, uint32_t id) {
  for (const ResourceEntry& entry : entries) {
    if (entry.id == id && equalsNoCase(entry.type, type)) return &entry;
  }
  return nullptr;
}

std::unique_ptr<ResourceUpdate> HeadlessResources::beginUpdate(const std::u16string& executable,
                                                               bool keepExisting) {
  std::vector<ResourceEntry> entries;
  std::string error;
  if (!readApplicationFile(files_, executable, &entries, &error)) return nullptr;
  if (!keepExisting) entries.clear();
  return std::make_unique<HeadlessResourceUpdate>(files_, executable, std::move(entries));
}

}  // namespace korvel
