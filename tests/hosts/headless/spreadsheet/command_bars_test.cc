#include "hosts/headless/spreadsheet/command_bars.h"

#include <gtest/gtest.h>

#include "tests/hosts/headless/spreadsheet/program_test_support.h"
#include "ui/command_bar_ids.h"

namespace korvel {
namespace {

using namespace commandbar;
using testing::ProgramTest;
using testing::RecordingSink;
using Captions = std::vector<std::u16string>;

class CommandBarsTest : public ProgramTest {
 protected:
  std::shared_ptr<Dispatch> menuBar() {
    auto bars = object(app(), dispid::kCommandBars);
    return object(*bars, kBarsItem, {Variant::text(u"worksheet menu bar")});
  }
  std::shared_ptr<Dispatch> controls(Dispatch& barOrPopup, int32_t member) {
    return object(barOrPopup, member);
  }
  // Controls.Add(Type, Id, Parameter, Before, Temporary); null when refused.
  static std::shared_ptr<Dispatch> add(Dispatch& list, int32_t type, Variant before,
                                       bool temporary) {
    Variant result;
    HResult hr = call(list, kControlsAdd,
                      {Variant::i4(type), Variant::missing(), Variant::missing(), std::move(before),
                       Variant::boolean(temporary)},
                      &result);
    return succeeded(hr) ? result.object() : nullptr;
  }
  static std::shared_ptr<Dispatch> find(Dispatch& bar, Variant id, Variant tag, bool recursive) {
    Variant result;
    EXPECT_EQ(call(bar, kBarFindControl,
                   {Variant::missing(), std::move(id), std::move(tag), Variant::missing(),
                    Variant::boolean(recursive)},
                   &result),
              kSOk);
    return result.object();
  }
  static std::u16string caption(Dispatch& control) { return get(control, kControlCaption).text(); }
};

TEST_F(CommandBarsTest, ControlsAreAddedBeforeOthersAndFoundByIndexTagOrCaption) {
  auto bar = menuBar();
  auto help = find(*bar, Variant::i4(kHelpMenuId), Variant::missing(), false);
  ASSERT_NE(help, nullptr);
  int64_t helpIndex = get(*help, kControlIndex).integer();
  auto list = controls(*bar, kBarControls);
  int64_t count = get(*list, kControlsCount).integer();
  EXPECT_EQ(helpIndex, count);

  auto popup = add(*list, kTypePopup, Variant::i4(int32_t(helpIndex)), true);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(put(*popup, kControlCaption, Variant::text(u"&Tools of Mine")), kSOk);
  EXPECT_EQ(put(*popup, kControlTag, Variant::text(u"Mine")), kSOk);
  EXPECT_EQ(get(*popup, kControlIndex).integer(), helpIndex);
  EXPECT_EQ(get(*help, kControlIndex).integer(), helpIndex + 1);
  EXPECT_EQ(program_.menuCaptions().back(), u"Help");

  for (Variant key :
       {Variant::i4(int32_t(helpIndex)), Variant::text(u"Mine"), Variant::text(u"tools of mine")}) {
    EXPECT_EQ(caption(*object(*list, kControlsItem, {key})), u"&Tools of Mine");
  }
  Variant none;
  std::vector<Variant> unknown{Variant::text(u"Nobody")};
  EXPECT_TRUE(failed(list->invoke(kControlsItem, InvokeKind::kPropertyGet, unknown, &none)));
  for (int32_t before : {0, int32_t(count) + 3}) {
    EXPECT_EQ(add(*list, kTypeButton, Variant::i4(before), true), nullptr) << before;
  }
  EXPECT_EQ(add(*list, 7, Variant::missing(), true), nullptr);

  // Inside the popup, found from the bar only when the search goes down into popups.
  auto button = add(*controls(*popup, kPopupControls), kTypeButton, Variant::missing(), true);
  ASSERT_EQ(put(*button, kControlTag, Variant::text(u"Deep")), kSOk);
  EXPECT_EQ(find(*bar, Variant::missing(), Variant::text(u"Deep"), false), nullptr);
  EXPECT_NE(find(*bar, Variant::missing(), Variant::text(u"Deep"), true), nullptr);
  EXPECT_NE(
      find(*object(*popup, kPopupCommandBar), Variant::missing(), Variant::text(u"Deep"), false),
      nullptr);
}

TEST_F(CommandBarsTest, AClickFiresTheSinksThenTheActionUnlessCancelled) {
  int ran = 0;
  program_.setMacro(u"Act", [&ran](std::span<Variant>) {
    ++ran;
    return Variant();
  });
  auto popup = add(*controls(*menuBar(), kBarControls), kTypePopup, Variant::missing(), true);
  put(*popup, kControlCaption, Variant::text(u"Mine"));
  auto button = add(*controls(*popup, kPopupControls), kTypeButton, Variant::missing(), true);
  put(*button, kControlCaption, Variant::text(u"Go"));
  put(*button, kControlTag, Variant::text(u"Go_Tag"));
  put(*button, kControlOnAction, Variant::text(u"Act"));

  auto sink = std::make_shared<RecordingSink>();
  EXPECT_EQ(button->advise(kIidApplicationEvents, sink), 0u);
  EXPECT_EQ(popup->advise(kIidButtonEvents, sink), 0u);
  uint32_t cookie = button->advise(kIidButtonEvents, sink);
  ASSERT_NE(cookie, 0u);

  ASSERT_TRUE(program_.clickMenuPath({u"Mine", u"Go"}));
  ASSERT_EQ(sink->ids(), std::vector<int32_t>{kEventClick});
  const std::vector<Variant>& arguments = sink->events[0].arguments;
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_EQ(get(*arguments[0].object(), kControlTag).text(), u"Go_Tag");
  EXPECT_FALSE(arguments[1].boolean());
  EXPECT_EQ(ran, 1);

  sink->handler = [](int32_t, std::span<Variant> a) { a[1] = Variant::boolean(true); };
  ASSERT_TRUE(program_.clickMenuButton(u"Go_Tag"));
  EXPECT_EQ(ran, 1);

  put(*button, kControlEnabled, Variant::boolean(false));
  EXPECT_FALSE(program_.clickMenuButton(u"Go_Tag"));
  put(*button, kControlEnabled, Variant::boolean(true));
  EXPECT_TRUE(button->unadvise(cookie));
  sink->events.clear();
  ASSERT_TRUE(program_.clickMenuButton(u"Go_Tag"));
  EXPECT_TRUE(sink->events.empty());
  EXPECT_EQ(ran, 2);
  EXPECT_FALSE(program_.clickMenuButton(u"No such tag"));
  EXPECT_FALSE(program_.clickMenuPath({u"Mine"}));  // a popup is opened, not clicked
}

TEST_F(CommandBarsTest, DeletedAndTemporaryControlsGoAway) {
  auto list = controls(*menuBar(), kBarControls);
  auto kept = add(*list, kTypePopup, Variant::missing(), false);
  put(*kept, kControlCaption, Variant::text(u"Kept"));
  auto temporary = add(*list, kTypePopup, Variant::missing(), true);
  put(*temporary, kControlCaption, Variant::text(u"Temporary"));
  auto inside = add(*controls(*kept, kPopupControls), kTypeButton, Variant::missing(), true);
  auto gone = add(*list, kTypeButton, Variant::missing(), false);
  put(*gone, kControlCaption, Variant::text(u"Gone"));

  EXPECT_EQ(call(*gone, kControlDelete, {Variant::boolean(true)}), kSOk);
  Variant result;
  std::vector<Variant> none;
  EXPECT_TRUE(failed(gone->invoke(kControlCaption, InvokeKind::kPropertyGet, none, &result)));
  Captions bar = program_.menuCaptions();
  EXPECT_EQ(Captions(bar.end() - 2, bar.end()), (Captions{u"Kept", u"Temporary"}));

  program_.quit();
  bar = program_.menuCaptions();
  EXPECT_EQ(bar.back(), u"Kept");
  EXPECT_TRUE(failed(temporary->invoke(kControlCaption, InvokeKind::kPropertyGet, none, &result)));
  EXPECT_TRUE(failed(inside->invoke(kControlCaption, InvokeKind::kPropertyGet, none, &result)));
  EXPECT_TRUE(program_.menuCaptions({u"Kept"}).empty());
}

TEST_F(CommandBarsTest, TheFileMenusCommandsAreOffWhileTheProgramIsBusy) {
  auto file = find(*menuBar(), Variant::i4(kFileMenuId), Variant::missing(), false);
  ASSERT_NE(file, nullptr);
  auto list = controls(*file, kPopupControls);
  EXPECT_GE(get(*list, kControlsCount).integer(), 18);
  auto item = object(*list, kControlsItem, {Variant::i4(18)});
  EXPECT_TRUE(get(*item, kControlEnabled).boolean());
  program_.setBusy(true);
  EXPECT_FALSE(get(*item, kControlEnabled).boolean());
  EXPECT_EQ(program_.menuCaptions({u"Help"}), (Captions{u"Help", u"About"}));
}

}  // namespace
}  // namespace korvel
