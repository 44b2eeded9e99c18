#include "hosts/win32/win32_dde.h"

#include <map>
#include <utility>
#include <vector>

namespace korvel::win32 {
namespace {

// The library's callback carries no instance, only the conversation: each open conversation
// names the client that opened it.
std::map<HCONV, Win32Dde*>& conversationOwners() {
  static std::map<HCONV, Win32Dde*> owners;
  return owners;
}

// Instances whose end was asked for inside their own callback: the library still works with
// them when the callback returns, so they end from the message loop a moment later.
std::vector<DWORD>& instancesToEnd() {
  static std::vector<DWORD> instances;
  return instances;
}

void CALLBACK endPendingInstances(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  std::vector<DWORD> instances = std::move(instancesToEnd());
  instancesToEnd().clear();
  for (DWORD instance : instances) DdeUninitialize(instance);
}

DdeConversation conversationId(HCONV conversation) {
  return static_cast<DdeConversation>(reinterpret_cast<uintptr_t>(conversation));
}

// Names longer than this are cut when an advise notice reports them.
constexpr DWORD kLongestItemName = 512;

std::string dataBytes(HDDEDATA data) {
  const DWORD size = DdeGetData(data, nullptr, 0, 0);
  std::string bytes(size, '\0');
  if (size > 0) {
    const DWORD read = DdeGetData(data, reinterpret_cast<BYTE*>(bytes.data()), size, 0);
    bytes.resize(read);
  }
  return bytes;
}

}  // namespace

Win32Dde::~Win32Dde() { uninitialize(); }

bool Win32Dde::initialize(AdviseCallback callback) {
  if (instance_ == 0) {
    DWORD instance = 0;
    const UINT result = DdeInitializeW(
        &instance, &Win32Dde::callback,
        APPCLASS_STANDARD | APPCMD_CLIENTONLY | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
        0);
    if (result != DMLERR_NO_ERROR) return false;
    instance_ = instance;
  }
  callback_ = std::move(callback);
  return true;
}

void Win32Dde::uninitialize() {
  if (instance_ == 0) return;
  for (HCONV conversation : conversations_) conversationOwners().erase(conversation);
  conversations_.clear();
  callback_ = nullptr;
  const DWORD instance = std::exchange(instance_, 0);
  if (delivering_ > 0) {
    instancesToEnd().push_back(instance);
    SetTimer(nullptr, 0, 0, &endPendingInstances);
    return;
  }
  DdeUninitialize(instance);
}

HSZ Win32Dde::stringHandle(std::u16string_view text) const {
  const std::wstring terminated(text.begin(), text.end());
  return DdeCreateStringHandleW(instance_, terminated.c_str(), CP_WINUNICODE);
}

DdeConversation Win32Dde::connect(std::u16string_view service, std::u16string_view topic) {
  if (instance_ == 0) return 0;
  HSZ serviceName = stringHandle(service);
  HSZ topicName = stringHandle(topic);
  HCONV conversation = nullptr;
  if (serviceName != nullptr && topicName != nullptr) {
    conversation = DdeConnect(instance_, serviceName, topicName, nullptr);
  }
  if (serviceName != nullptr) DdeFreeStringHandle(instance_, serviceName);
  if (topicName != nullptr) DdeFreeStringHandle(instance_, topicName);
  if (conversation == nullptr) return 0;
  conversations_.insert(conversation);
  conversationOwners()[conversation] = this;
  return conversationId(conversation);
}

HCONV Win32Dde::ownConversation(DdeConversation conversation) const {
  if (instance_ == 0) return nullptr;
  for (HCONV own : conversations_) {
    if (conversationId(own) == conversation) return own;
  }
  return nullptr;
}

bool Win32Dde::startAdvise(DdeConversation conversation, std::u16string_view item,
                           uint32_t timeoutMilliseconds) {
  HCONV handle = ownConversation(conversation);
  if (handle == nullptr) return false;
  HSZ itemName = stringHandle(item);
  if (itemName == nullptr) return false;
  DWORD status = 0;
  HDDEDATA result = DdeClientTransaction(nullptr, 0, handle, itemName, CF_TEXT, XTYP_ADVSTART,
                                         timeoutMilliseconds, &status);
  DdeFreeStringHandle(instance_, itemName);
  return result != nullptr;
}

std::optional<std::string> Win32Dde::request(DdeConversation conversation, std::u16string_view item,
                                             uint32_t timeoutMilliseconds) {
  HCONV handle = ownConversation(conversation);
  if (handle == nullptr) return std::nullopt;
  HSZ itemName = stringHandle(item);
  if (itemName == nullptr) return std::nullopt;
  DWORD status = 0;
  HDDEDATA data = DdeClientTransaction(nullptr, 0, handle, itemName, CF_TEXT, XTYP_REQUEST,
                                       timeoutMilliseconds, &status);
  // The transaction's wait runs the message loop: the client may have ended meanwhile.
  if (instance_ != 0) DdeFreeStringHandle(instance_, itemName);
  if (data == nullptr) return std::nullopt;
  std::string bytes = dataBytes(data);
  DdeFreeDataHandle(data);
  return bytes;
}

HDDEDATA CALLBACK Win32Dde::callback(UINT type, UINT format, HCONV conversation, HSZ, HSZ item,
                                     HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  auto owner = conversationOwners().find(conversation);
  if (owner == conversationOwners().end()) {
    return type == XTYP_ADVDATA ? reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED) : nullptr;
  }
  Win32Dde& client = *owner->second;
  if (type == XTYP_DISCONNECT) {
    // The server ended it; the handle may be reused by a later conversation.
    client.conversations_.erase(conversation);
    conversationOwners().erase(owner);
    return nullptr;
  }
  if (type == XTYP_ADVDATA) return client.adviseData(conversation, format, item, data);
  return nullptr;
}

HDDEDATA Win32Dde::adviseData(HCONV conversation, UINT format, HSZ item, HDDEDATA data) {
  if (format != CF_TEXT || !callback_ || data == nullptr) {
    return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
  }
  wchar_t name[kLongestItemName + 1] = {};
  DdeQueryStringW(instance_, item, name, kLongestItemName + 1, CP_WINUNICODE);
  const std::u16string itemName(name, name + wcslen(name));
  const std::string bytes = dataBytes(data);
  // A copy: the callback may end the client, which drops the stored one while it runs.
  const AdviseCallback deliver = callback_;
  ++delivering_;
  try {
    deliver(conversationId(conversation), itemName, bytes);
  } catch (...) {
    // Nothing may unwind through the library's frames.
  }
  --delivering_;
  return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

}  // namespace korvel::win32
