// An in-memory world of DDE servers for the headless host: a test registers servers (service,
// topic) with their items' texts, the runtime talks to them through the Dde port, and the test
// changes an item to have its new data delivered to every client advising it. Switches make a
// server refuse its conversations or let its transactions time out, so the runtime's failure
// paths can be shown.
//
// The data of an item travels as the servers of the host platform send text: the 8-bit text
// followed by a terminating zero byte. Names of services, topics and items compare without regard
// to case, as the platform's string handles do. Advise data is delivered at once from setItem
// rather than from a message loop.
#ifndef KORVEL_HOSTS_HEADLESS_HEADLESS_DDE_H_
#define KORVEL_HOSTS_HEADLESS_HEADLESS_DDE_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "platform/dde.h"

namespace korvel {

class HeadlessDde : public Dde {
 public:
  // How a server answers.
  enum class Answer {
    kServe,    // connections, advise loops and requests succeed
    kRefuse,   // no connection is made; transactions of existing conversations are refused
    kTimeout,  // connections are made, but advise and request transactions time out
  };

  bool initialize(AdviseCallback callback) override;
  void uninitialize() override;
  bool initialized() const override { return initialized_; }
  DdeConversation connect(std::u16string_view service, std::u16string_view topic) override;
  bool startAdvise(DdeConversation conversation, std::u16string_view item,
                   uint32_t timeoutMilliseconds) override;
  std::optional<std::string> request(DdeConversation conversation, std::u16string_view item,
                                     uint32_t timeoutMilliseconds) override;

  // Registers the server's topic when new, with no items.
  void addServer(std::u16string_view service, std::u16string_view topic);
  // Sets the item's text (registering server, topic and item when new) and delivers it to every
  // conversation advising the item, in the order the loops were started. The callback may call
  // back into this object, including uninitialize, which stops the remaining deliveries.
  void setItem(std::u16string_view service, std::u16string_view topic, std::u16string_view item,
               std::string_view text);
  // REQUIRES: the server's topic was registered.
  void setAnswer(std::u16string_view service, std::u16string_view topic, Answer answer);

  // For tests: the number of advise loops running on the item, and the timeout of the last
  // advise or request transaction (0 before any).
  int adviseLoops(std::u16string_view service, std::u16string_view topic,
                  std::u16string_view item) const;
  uint32_t lastTimeout() const { return lastTimeout_; }
  // While set, initialize refuses (returns false), as the system does when it has no resources.
  void setFailInitialize(bool fail) { failInitialize_ = fail; }

 private:
  // Folded (service, topic).
  using TopicKey = std::pair<std::u16string, std::u16string>;
  struct Server {
    Answer answer = Answer::kServe;
    std::map<std::u16string, std::string> items;  // by folded item name
  };
  struct Conversation {
    TopicKey topic;
    // Folded item name to the name as the client spelled it, in start order.
    std::map<std::u16string, std::pair<uint64_t, std::u16string>> advised;
  };

  Server* serverOf(DdeConversation conversation);

  bool initialized_ = false;
  bool failInitialize_ = false;
  AdviseCallback callback_;
  std::map<TopicKey, Server> servers_;
  std::map<DdeConversation, Conversation> conversations_;
  DdeConversation nextConversation_ = 1;
  uint64_t nextAdvise_ = 1;
  uint32_t lastTimeout_ = 0;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_HEADLESS_DDE_H_
