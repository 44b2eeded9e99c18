#include "hosts/headless/headless_dde.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

struct Delivery {
  DdeConversation conversation;
  std::u16string item;
  std::string data;
};

class HeadlessDdeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dde_.setItem(u"Feed", u"Prices", u"Last", "12");
    ASSERT_TRUE(
        dde_.initialize([this](DdeConversation c, std::u16string_view item, std::string_view data) {
          deliveries_.push_back({c, std::u16string(item), std::string(data)});
        }));
  }
  HeadlessDde dde_;
  std::vector<Delivery> deliveries_;
};

TEST_F(HeadlessDdeTest, ConnectsAndRequestsWithTheTextAndItsTerminator) {
  DdeConversation c = dde_.connect(u"FEED", u"prices");  // names compare without case
  ASSERT_NE(c, 0u);
  EXPECT_EQ(dde_.request(c, u"last", 1000), std::string("12\0", 3));
  EXPECT_EQ(dde_.lastTimeout(), 1000u);
  EXPECT_EQ(dde_.request(c, u"Missing", 1000), std::nullopt);
  EXPECT_FALSE(dde_.startAdvise(c, u"Missing", 1000));
  EXPECT_EQ(dde_.request(c + 100, u"Last", 1000), std::nullopt);  // no such conversation
  EXPECT_EQ(dde_.connect(u"Feed", u"Other"), 0u);
  EXPECT_EQ(dde_.connect(u"Nobody", u"Prices"), 0u);

  dde_.uninitialize();
  dde_.uninitialize();  // twice does nothing
  EXPECT_FALSE(dde_.initialized());
  EXPECT_EQ(dde_.request(c, u"Last", 1000), std::nullopt);  // conversations ended with the client
  EXPECT_EQ(dde_.connect(u"Feed", u"Prices"), 0u);
}

TEST_F(HeadlessDdeTest, SetItemDeliversToEveryAdvisingConversationInStartOrder) {
  DdeConversation first = dde_.connect(u"Feed", u"Prices");
  DdeConversation second = dde_.connect(u"Feed", u"Prices");
  DdeConversation idle = dde_.connect(u"Feed", u"Prices");
  ASSERT_TRUE(dde_.startAdvise(second, u"LAST", 1000));
  ASSERT_TRUE(dde_.startAdvise(first, u"Last", 1000));
  ASSERT_TRUE(dde_.startAdvise(second, u"Last", 1000));  // a running loop stays one loop
  EXPECT_EQ(dde_.adviseLoops(u"feed", u"prices", u"last"), 2);
  (void)idle;

  dde_.setItem(u"Feed", u"Prices", u"Last", "1.5");
  dde_.setItem(u"Feed", u"Prices", u"Other", "x");  // nobody advises it
  ASSERT_EQ(deliveries_.size(), 2u);
  EXPECT_EQ(deliveries_[0].conversation, second);
  EXPECT_EQ(deliveries_[0].item, u"LAST");  // as the client named it
  EXPECT_EQ(deliveries_[0].data, std::string("1.5\0", 4));
  EXPECT_EQ(deliveries_[1].conversation, first);
  EXPECT_EQ(dde_.request(first, u"Last", 1000), std::string("1.5\0", 4));
}

TEST_F(HeadlessDdeTest, RefusingAndTimingOutServersFailTheirCalls) {
  DdeConversation c = dde_.connect(u"Feed", u"Prices");
  dde_.setAnswer(u"Feed", u"Prices", HeadlessDde::Answer::kTimeout);
  EXPECT_NE(dde_.connect(u"Feed", u"Prices"), 0u);
  EXPECT_FALSE(dde_.startAdvise(c, u"Last", 250));
  EXPECT_EQ(dde_.request(c, u"Last", 250), std::nullopt);
  EXPECT_EQ(dde_.lastTimeout(), 250u);

  dde_.setAnswer(u"Feed", u"Prices", HeadlessDde::Answer::kRefuse);
  EXPECT_EQ(dde_.connect(u"Feed", u"Prices"), 0u);
  EXPECT_EQ(dde_.request(c, u"Last", 1000), std::nullopt);

  dde_.setAnswer(u"Feed", u"Prices", HeadlessDde::Answer::kServe);
  EXPECT_TRUE(dde_.startAdvise(c, u"Last", 1000));

  HeadlessDde refusing;
  refusing.setFailInitialize(true);
  EXPECT_FALSE(refusing.initialize(nullptr));
  EXPECT_FALSE(refusing.initialized());
}

TEST_F(HeadlessDdeTest, UninitializeInsideTheCallbackStopsTheRemainingDeliveries) {
  DdeConversation a = dde_.connect(u"Feed", u"Prices");
  DdeConversation b = dde_.connect(u"Feed", u"Prices");
  ASSERT_TRUE(dde_.startAdvise(a, u"Last", 1000));
  ASSERT_TRUE(dde_.startAdvise(b, u"Last", 1000));
  int calls = 0;
  dde_.initialize([&](DdeConversation, std::u16string_view, std::string_view) {
    ++calls;
    dde_.uninitialize();
  });
  dde_.setItem(u"Feed", u"Prices", u"Last", "13");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(dde_.adviseLoops(u"Feed", u"Prices", u"Last"), 0);
}

}  // namespace
}  // namespace korvel
