#include "hosts/headless/headless_dde.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "util/text.h"

namespace korvel {
namespace {

std::string withTerminator(const std::string& text) { return text + '\0'; }

}  // namespace

bool HeadlessDde::initialize(AdviseCallback callback) {
  if (failInitialize_) return false;
  callback_ = std::move(callback);
  initialized_ = true;
  return true;
}

void HeadlessDde::uninitialize() {
  initialized_ = false;
  conversations_.clear();
  callback_ = nullptr;
}

DdeConversation HeadlessDde::connect(std::u16string_view service, std::u16string_view topic) {
  if (!initialized_) return 0;
  TopicKey key{toUpper(service), toUpper(topic)};
  auto it = servers_.find(key);
  if (it == servers_.end() || it->second.answer == Answer::kRefuse) return 0;
  DdeConversation id = nextConversation_++;
  conversations_[id].topic = std::move(key);
  return id;
}

HeadlessDde::Server* HeadlessDde::serverOf(DdeConversation conversation) {
  auto it = conversations_.find(conversation);
  if (it == conversations_.end()) return nullptr;
  auto server = servers_.find(it->second.topic);
  return server == servers_.end() ? nullptr : &server->second;
}

bool HeadlessDde::startAdvise(DdeConversation conversation, std::u16string_view item,
                              uint32_t timeoutMilliseconds) {
  lastTimeout_ = timeoutMilliseconds;
  Server* server = initialized_ ? serverOf(conversation) : nullptr;
  if (!server || server->answer != Answer::kServe) return false;
  std::u16string key = toUpper(item);
  if (!server->items.count(key)) return false;
  auto& advised = conversations_[conversation].advised;
  // A second start on a running loop keeps the loop (and its place in the delivery order).
  if (!advised.count(key)) advised[key] = {nextAdvise_++, std::u16string(item)};
  return true;
}

std::optional<std::string> HeadlessDde::request(DdeConversation conversation,
                                                std::u16string_view item,
                                                uint32_t timeoutMilliseconds) {
  lastTimeout_ = timeoutMilliseconds;
  Server* server = initialized_ ? serverOf(conversation) : nullptr;
  if (!server || server->answer != Answer::kServe) return std::nullopt;
  auto it = server->items.find(toUpper(item));
  if (it == server->items.end()) return std::nullopt;
  return withTerminator(it->second);
}

void HeadlessDde::addServer(std::u16string_view service, std::u16string_view topic) {
  servers_[TopicKey{toUpper(service), toUpper(topic)}];
}

void HeadlessDde::setItem(std::u16string_view service, std::u16string_view topic,
                          std::u16string_view item, std::string_view text) {
  TopicKey key{toUpper(service), toUpper(topic)};
  std::u16string itemKey = toUpper(item);
  servers_[key].items[itemKey] = std::string(text);
  if (!initialized_) return;
  // The loops are gathered first: the callback may start or end conversations while it runs.
  std::vector<std::tuple<uint64_t, DdeConversation, std::u16string>> loops;
  for (const auto& [id, conversation] : conversations_) {
    if (conversation.topic != key) continue;
    auto it = conversation.advised.find(itemKey);
    if (it != conversation.advised.end())
      loops.emplace_back(it->second.first, id, it->second.second);
  }
  std::sort(loops.begin(), loops.end());
  std::string data = withTerminator(std::string(text));
  for (const auto& [order, id, name] : loops) {
    if (!initialized_ || !conversations_.count(id) || !callback_) return;
    AdviseCallback callback = callback_;  // survives a replacement from inside the call
    callback(id, name, data);
  }
}

void HeadlessDde::setAnswer(std::u16string_view service, std::u16string_view topic, Answer answer) {
  servers_[TopicKey{toUpper(service), toUpper(topic)}].answer = answer;
}

int HeadlessDde::adviseLoops(std::u16string_view service, std::u16string_view topic,
                             std::u16string_view item) const {
  TopicKey key{toUpper(service), toUpper(topic)};
  std::u16string itemKey = toUpper(item);
  int count = 0;
  for (const auto& [id, conversation] : conversations_)
    if (conversation.topic == key && conversation.advised.count(itemKey)) ++count;
  return count;
}

}  // namespace korvel
