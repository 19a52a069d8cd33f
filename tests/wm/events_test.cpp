// Events from real X input: keys through XTest, the close request and the
// resizes and moves a window manager makes, the pointer and its buttons.
#include <X11/keysym.h>
#include <unistd.h>

#include <algorithm>

#include "support.h"
#include "wm/internal.h"

namespace {

using namespace wmtest;

std::vector<wm_event_t> OfType(int type) {
  std::vector<wm_event_t> out;
  for (const auto &e : g_events)
    if (e.type == type) out.push_back(e);
  return out;
}

// Puts the pointer inside the window and waits until it has the keyboard.
void Focus(X &x, const ShownWindow &shown) {
  XID xw = x.WaitFor(shown.title());
  ASSERT_NE(xw, 0u);
  int ox = 0, oy = 0;
  x.Origin(xw, &ox, &oy);
  x.MoveTo(ox + 5, oy + 5);
  ASSERT_TRUE(PumpUntil([&] { return brisk::wm::HasKeyboardFocus(shown.get()); }));
}

TEST(WmKeys, PressAndReleaseGiveTheTableCode) {
  X x;
  ShownWindow shown(0, 0, 200, 150);
  Focus(x, shown);
  struct Case {
    const char *label;
    unsigned long keysym;
    int code;
  };
  const Case cases[] = {
      {"Escape", XK_Escape, 1},     {"Left", XK_Left, 98},      {"Right", XK_Right, 100},
      {"Home", XK_Home, 32},        {"Page Up", XK_Prior, 33},  {"Page Down", XK_Next, 54},
      {"Print Screen", XK_Print, 0}, {"A", XK_a, 60},           {"F12", XK_F12, 13},
      {"Space", XK_space, 95},      {"Enter", XK_Return, 51},   {"keypad add", XK_KP_Add, 58},
      {"left Shift", XK_Shift_L, 106}, {"right Ctrl", XK_Control_R, 107}, {"0", XK_0, 27},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    g_events.clear();
    x.Key(c.keysym, true);
    x.Key(c.keysym, false);
    ASSERT_TRUE(PumpUntil([] {
      auto keys = OfType(WM_EVENT_KEY);
      return !keys.empty() && keys.back().key.kind == WM_KIND_KEYUP;
    }));
    auto keys = OfType(WM_EVENT_KEY);
    ASSERT_GE(keys.size(), 2u);
    // The press first (auto-repeat adds further presses), the release last.
    for (size_t i = 0; i < keys.size(); ++i) {
      EXPECT_EQ(keys[i].key.kind, i + 1 < keys.size() ? WM_KIND_KEYDOWN : WM_KIND_KEYUP) << i;
      EXPECT_EQ(keys[i].key.code, c.code) << i;
      EXPECT_EQ(keys[i].key.extra, 0);
      EXPECT_EQ(keys[i].window, shown.get());
    }
  }
}

TEST(WmWindowEvents, CloseRequestLeavesTheWindowOpen) {
  X x;
  ShownWindow shown(10, 10, 160, 120);
  XID xw = x.WaitFor(shown.title());
  ASSERT_NE(xw, 0u);
  g_events.clear();
  x.CloseRequest(xw);
  auto closes = [] {
    int n = 0;
    for (const auto &e : OfType(WM_EVENT_WINDOW))
      if (e.conf.kind == WM_KIND_CLOSE) ++n;
    return n;
  };
  ASSERT_TRUE(PumpUntil([&] { return closes() >= 1; }));
  // Events arrive in order: once a later resize is seen, no second close is pending.
  x.Resize(xw, 150, 110);
  ASSERT_TRUE(PumpUntil([&] { return shown.get()->width == 150; }));
  EXPECT_EQ(closes(), 1);
  auto close = OfType(WM_EVENT_WINDOW).front();
  EXPECT_EQ(close.window, shown.get());
  EXPECT_EQ(close.conf.kind, WM_KIND_CLOSE);

  int width = 0, height = 0;
  bool viewable = false;
  x.Geometry(xw, &width, &height, &viewable);
  EXPECT_TRUE(viewable);
  EXPECT_NE(shown.get()->hwnd, nullptr);

  // Destroying the window delivers the second close event.
  shown.Destroy();
  EXPECT_EQ(closes(), 2);
  EXPECT_TRUE(PumpUntil([&] { return x.Count(shown.title()) == 0; }));
}

TEST(WmWindowEvents, ResizeAndMoveUpdateTheRecord) {
  X x;
  ShownWindow shown(10, 10, 320, 240);
  XID xw = x.WaitFor(shown.title());
  ASSERT_NE(xw, 0u);
  wm_window_t *w = shown.get();

  g_events.clear();
  x.Resize(xw, 640, 480);
  auto geometry = [](int width, int height) {
    for (const auto &e : OfType(WM_EVENT_WINDOW))
      if (e.conf.kind == WM_KIND_GEOMETRY && e.conf.width == width && e.conf.height == height) return true;
    return false;
  };
  ASSERT_TRUE(PumpUntil([&] { return geometry(640, 480); }));
  for (const auto &e : OfType(WM_EVENT_WINDOW)) {
    if (e.conf.width != 640) continue;
    EXPECT_EQ(e.conf.x, 0);
    EXPECT_EQ(e.conf.y, 0);
    EXPECT_EQ(e.window, w);
    break;
  }
  EXPECT_EQ(wmOptions(w, WM_OPT_WIDTH, 0), 640);
  EXPECT_EQ(wmOptions(w, WM_OPT_HEIGHT, 0), 480);

  g_events.clear();
  x.Move(xw, 30, 40);
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto &e : OfType(WM_EVENT_WINDOW))
      if (e.conf.kind == WM_KIND_GEOMETRY && e.conf.x == 30 && e.conf.y == 40) return true;
    return false;
  }));
  for (const auto &e : OfType(WM_EVENT_WINDOW)) {
    if (e.conf.x != 30) continue;
    EXPECT_EQ(e.conf.width, 640);
    EXPECT_EQ(e.conf.height, 480);
    break;
  }
  EXPECT_EQ(wmOptions(w, WM_OPT_X, 0), 30);
  EXPECT_EQ(wmOptions(w, WM_OPT_Y, 0), 40);
  EXPECT_EQ(wmOptions(w, WM_OPT_WIDTH, 0), 640);
}

TEST(WmWindowEvents, MinimisedWindowHasAnEmptyClientArea) {
  X x;
  ShownWindow shown(10, 10, 200, 100);
  XID xw = x.WaitFor(shown.title());
  ASSERT_NE(xw, 0u);
  wm_window_t *w = shown.get();
  g_events.clear();
  x.SetMinimised(xw, true);
  auto geometry = [](int width, int height) {
    for (const auto &e : OfType(WM_EVENT_WINDOW))
      if (e.conf.kind == WM_KIND_GEOMETRY && e.conf.width == width && e.conf.height == height) return true;
    return false;
  };
  ASSERT_TRUE(PumpUntil([&] { return geometry(0, 0); }));
  EXPECT_EQ(wmOptions(w, WM_OPT_WIDTH, 0), 0);
  EXPECT_EQ(wmOptions(w, WM_OPT_HEIGHT, 0), 0);
  // Restored, the client area is back.
  x.SetMinimised(xw, false);
  ASSERT_TRUE(PumpUntil([&] { return geometry(200, 100); }));
  EXPECT_EQ(wmOptions(w, WM_OPT_WIDTH, 0), 200);
  EXPECT_EQ(wmOptions(w, WM_OPT_HEIGHT, 0), 100);
}

TEST(WmMouse, MovesButtonsAndWheel) {
  X x;
  g_events.clear();
  ShownWindow shown(100, 80, 400, 300);
  XID xw = x.WaitFor(shown.title());
  ASSERT_NE(xw, 0u);
  int ox = 0, oy = 0;
  x.Origin(xw, &ox, &oy);
  auto mice = [] { return OfType(WM_EVENT_MOUSE); };
  auto seen = [&](auto match) {
    return PumpUntil([&] {
      auto m = mice();
      return std::any_of(m.begin(), m.end(), match);
    });
  };

  x.MoveTo(ox + 10, oy + 20);
  ASSERT_TRUE(seen([](const wm_event_t &e) { return e.mouse.x == 10 && e.mouse.y == 20; }));
  x.MoveTo(ox + 50, oy + 70);
  ASSERT_TRUE(seen([](const wm_event_t &e) { return e.mouse.x == 50 && e.mouse.y == 70; }));

  struct Press {
    const char *label;
    unsigned x_button;
    int down, up;
    int wm_window_t::*held;
    int wm_mouse_t::*flag;
  };
  const Press presses[] = {
      {"left", 1, WM_BUTTON_LEFT_DOWN, WM_BUTTON_LEFT_UP, &wm_window_t::leftButton, &wm_mouse_t::left},
      {"right", 3, WM_BUTTON_RIGHT_DOWN, WM_BUTTON_RIGHT_UP, &wm_window_t::rightButton, &wm_mouse_t::right},
      {"middle", 2, WM_BUTTON_MIDDLE_DOWN, WM_BUTTON_MIDDLE_UP, &wm_window_t::middleButton, &wm_mouse_t::middle},
  };
  for (const Press &p : presses) {
    SCOPED_TRACE(p.label);
    x.Button(p.x_button, true);
    ASSERT_TRUE(seen([&](const wm_event_t &e) { return e.mouse.button == p.down; }));
    EXPECT_EQ(shown.get()->*p.held, 1);
    x.Button(p.x_button, false);
    ASSERT_TRUE(seen([&](const wm_event_t &e) { return e.mouse.button == p.up; }));
    EXPECT_EQ(shown.get()->*p.held, 0);
    for (const auto &e : mice()) {
      if (e.mouse.button == p.down) {
        EXPECT_EQ(e.mouse.*p.flag, 1);
        EXPECT_EQ(e.mouse.x, 50);
        EXPECT_EQ(e.mouse.y, 70);
      }
      if (e.mouse.button == p.up) {
        EXPECT_EQ(e.mouse.*p.flag, 0);
      }
    }
  }

  // A drag carries the held button in its moves.
  x.Button(1, true);
  x.MoveTo(ox + 60, oy + 75);
  ASSERT_TRUE(seen([](const wm_event_t &e) { return e.mouse.x == 60 && e.mouse.y == 75; }));
  x.Button(1, false);
  ASSERT_TRUE(seen([](const wm_event_t &e) { return e.mouse.button == WM_BUTTON_LEFT_UP && e.mouse.x == 60; }));
  {
    // Every event between the last left press and its release holds the button.
    auto all = mice();
    size_t down = all.size(), up = all.size();
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i].mouse.button == WM_BUTTON_LEFT_DOWN) down = i;
    for (size_t i = down; i < all.size(); ++i)
      if (all[i].mouse.button == WM_BUTTON_LEFT_UP) {
        up = i;
        break;
      }
    ASSERT_LT(up, all.size());
    EXPECT_GT(up - down, 1u) << "no move while the button was held";
    for (size_t i = down; i < up; ++i) EXPECT_EQ(all[i].mouse.left, 1) << i;
  }

  // Wheel: X buttons 4 and 5, at the last position, no button action.
  x.Button(4, true);
  x.Button(4, false);
  ASSERT_TRUE(seen([](const wm_event_t &e) { return e.mouse.wheelUp == 1; }));
  x.Button(5, true);
  x.Button(5, false);
  ASSERT_TRUE(seen([](const wm_event_t &e) { return e.mouse.wheelDown == 1; }));
  for (const auto &e : mice()) {
    if (!e.mouse.wheelUp && !e.mouse.wheelDown) continue;
    EXPECT_EQ(e.mouse.button, 0);
    EXPECT_EQ(e.mouse.wheelUp + e.mouse.wheelDown, 1);
    EXPECT_EQ(e.mouse.x, 60);
    EXPECT_EQ(e.mouse.y, 75);
  }

  // Every event of the window: kind 0, deltas against the previous one, and
  // the first one's deltas equal to its position.
  auto all = mice();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front().mouse.dx, all.front().mouse.x);
  EXPECT_EQ(all.front().mouse.dy, all.front().mouse.y);
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].mouse.kind, 0);
    EXPECT_EQ(all[i].window, shown.get());
    if (i == 0) continue;
    EXPECT_EQ(all[i].mouse.dx, all[i].mouse.x - all[i - 1].mouse.x) << i;
    EXPECT_EQ(all[i].mouse.dy, all[i].mouse.y - all[i - 1].mouse.y) << i;
  }
}

// A callback that destroys its window on the close request, and so also
// receives the destroy's close event while the destruction is under way.
int g_destroying_calls = 0;
int DestroyOnClose(wm_event_t *event) {
  if (event->type == WM_EVENT_WINDOW && event->conf.kind == WM_KIND_CLOSE) {
    ++g_destroying_calls;
    wmDestroyWindow(event->window);
  }
  return 0;
}

TEST(WmWindowEvents, CallbackMayDestroyItsWindow) {
  X x;
  auto *w = wmCreateWindow(0, 0, 100, 100);
  ASSERT_NE(w, nullptr);
  std::string title = "wm test destroy " + std::to_string(getpid());
  wmOptions(w, WM_OPT_TITLE, reinterpret_cast<intptr_t>(title.c_str()));
  wmOptions(w, WM_OPT_CALLBACK, reinterpret_cast<intptr_t>(&DestroyOnClose));
  ASSERT_EQ(wmShowWindow(w), 0);
  XID xw = x.WaitFor(title);
  ASSERT_NE(xw, 0u);
  x.CloseRequest(xw);
  ASSERT_TRUE(PumpUntil([] { return g_destroying_calls >= 2; }));
  EXPECT_EQ(g_destroying_calls, 2);
  EXPECT_TRUE(PumpUntil([&] { return x.Count(title) == 0; }));
  for (SYS_List_p node = brisk::wm::g_windows; node; node = node->next) EXPECT_NE(node->data, w);
}

}  // namespace
