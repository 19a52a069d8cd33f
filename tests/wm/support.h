// Helpers of the window manager tests: the base library started with its log
// on, events recorded from window callbacks, polling with a generous
// deadline, and real X input from a connection of the test's own (XTest key
// and pointer events, the close request a window manager sends, resizes and
// moves the way a window manager makes them, and pixels read back from the
// server).
#pragma once

#include "tests/support/child.h"
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "wm/wm.h"

typedef struct _XDisplay Display;
typedef unsigned long XID;

namespace wmtest {

// Starts the base library with this command line (entry 0 is the program path).
void StartBase(std::vector<std::string> args);

std::string ReadFile(const std::string &path);
// The lines of the log file "debug.log" of the working directory.
std::vector<std::string> LogLines();
// Messages of the module lines "[tag][file:line:func()] message" of one tag, in order.
std::vector<std::string> ModuleMessages(const std::string &tag);
bool Contains(const std::vector<std::string> &lines, const std::string &line);

// wmInit's result and error code in processes that start the window manager
// once for all their tests (start_env.cpp).
extern int g_init_result;
extern int g_init_error;

// Every event delivered to Record, copied.
extern std::vector<wm_event_t> g_events;
int Record(wm_event_t *event);

// Pumps the window manager's events until done() holds or the deadline
// passes (20 s: slow shared machines). Returns done()'s last answer.
bool PumpUntil(const std::function<bool()> &done, int limit_ms = 20000);

using brisktest::InChild;

// The test's own connection to the X server of DISPLAY.
class X {
 public:
  X();
  ~X();
  X(const X &) = delete;
  X &operator=(const X &) = delete;

  Display *display() const { return display_; }
  // The top-level window whose WM_NAME is title, or 0; and how many there are.
  XID Find(const std::string &title);
  int Count(const std::string &title);
  // Waits for the window of that title (pumping events meanwhile).
  XID WaitFor(const std::string &title);
  // Position of the window's client area on the screen.
  void Origin(XID window, int *x, int *y);
  // Size and map state.
  void Geometry(XID window, int *width, int *height, bool *viewable);
  std::string ClassName(XID window);
  // The 0xRRGGBB value of one pixel of the window as the server shows it.
  unsigned long Pixel(XID window, int x, int y);

  void Key(unsigned long keysym, bool press);
  void MoveTo(int screen_x, int screen_y);
  void Button(unsigned button, bool press);
  // WM_DELETE_WINDOW, as a window manager sends it for the close button.
  void CloseRequest(XID window);
  void Resize(XID window, int width, int height);
  void Move(XID window, int x, int y);
  // Marks the window minimised (or not) the way a window manager does, in _NET_WM_STATE.
  void SetMinimised(XID window, bool minimised);
  void Sync();

 private:
  Display *display_ = nullptr;
};

// A shown window with a unique title whose events go to Record; destroyed
// at the end of the scope when the test did not destroy it itself.
class ShownWindow {
 public:
  ShownWindow(int x, int y, int width, int height);
  ~ShownWindow();
  wm_window_t *get() const { return window_; }
  const std::string &title() const { return title_; }
  // Destroys it now.
  void Destroy();

 private:
  wm_window_t *window_ = nullptr;
  std::string title_;
};

}  // namespace wmtest
