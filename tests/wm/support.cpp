#include "support.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "base/base.h"

namespace wmtest {

void StartBase(std::vector<std::string> args) {
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  SYS_BaseInit(nullptr, static_cast<int>(args.size()), argv.data(), nullptr);
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  std::stringstream in(ReadFile("debug.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> ModuleMessages(const std::string &tag) {
  std::string quoted;
  for (char c : tag) {
    if (c == '[' || c == ']') quoted += '\\';
    quoted += c;
  }
  const std::regex line("^\\[" + quoted + "\\]\\[[^:\\]]+\\.cpp:[0-9]+:[A-Za-z_0-9]+\\(\\)\\] (.*)$");
  std::vector<std::string> out;
  for (const auto &l : LogLines()) {
    std::smatch m;
    if (std::regex_match(l, m, line)) out.push_back(m[1].str());
  }
  return out;
}

bool Contains(const std::vector<std::string> &lines, const std::string &line) {
  for (const auto &l : lines)
    if (l == line) return true;
  return false;
}

int g_init_result = -1;
int g_init_error = 0;
std::vector<wm_event_t> g_events;

int Record(wm_event_t *event) {
  g_events.push_back(*event);
  return 0;
}

bool PumpUntil(const std::function<bool()> &done, int limit_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    wmProcessEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// --- X ------------------------------------------------------------------------

X::X() : display_(XOpenDisplay(nullptr)) {
  if (!display_) ADD_FAILURE() << "no X server at DISPLAY";
}

X::~X() {
  if (display_) XCloseDisplay(display_);
}

namespace {

// Every window below parent whose WM_NAME is title.
void FindIn(Display *d, Window parent, const std::string &title, std::vector<XID> *found) {
  Window root = 0, up = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, parent, &root, &up, &children, &count)) return;
  for (unsigned i = 0; i < count; ++i) {
    XTextProperty name{};
    if (XGetWMName(d, children[i], &name) && name.value) {
      if (title == reinterpret_cast<const char *>(name.value)) found->push_back(children[i]);
      XFree(name.value);
    }
    FindIn(d, children[i], title, found);
  }
  if (children) XFree(children);
}

}  // namespace

XID X::Find(const std::string &title) {
  if (!display_) return 0;
  XSync(display_, False);
  std::vector<XID> found;
  FindIn(display_, DefaultRootWindow(display_), title, &found);
  return found.empty() ? 0 : found.front();
}

int X::Count(const std::string &title) {
  if (!display_) return 0;
  XSync(display_, False);
  std::vector<XID> found;
  FindIn(display_, DefaultRootWindow(display_), title, &found);
  return static_cast<int>(found.size());
}

XID X::WaitFor(const std::string &title) {
  XID found = 0;
  PumpUntil([&] { return (found = Find(title)) != 0; });
  return found;
}

void X::Origin(XID window, int *x, int *y) {
  Window child = 0;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, x, y, &child);
}

void X::Geometry(XID window, int *width, int *height, bool *viewable) {
  XWindowAttributes attributes{};
  XGetWindowAttributes(display_, window, &attributes);
  *width = attributes.width;
  *height = attributes.height;
  *viewable = attributes.map_state == IsViewable;
}

std::string X::ClassName(XID window) {
  XClassHint hint{};
  std::string name;
  if (XGetClassHint(display_, window, &hint)) {
    if (hint.res_class) name = hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
  }
  return name;
}

unsigned long X::Pixel(XID window, int x, int y) {
  XImage *image = XGetImage(display_, window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return ~0ul;
  unsigned long pixel = XGetPixel(image, 0, 0);
  unsigned long rgb = 0;
  for (unsigned long mask : {image->red_mask, image->green_mask, image->blue_mask}) {
    unsigned long value = pixel & mask;
    while (mask && !(mask & 1)) mask >>= 1, value >>= 1;
    rgb = (rgb << 8) | (value * 255 / (mask ? mask : 1));
  }
  XDestroyImage(image);
  return rgb;
}

void X::Key(unsigned long keysym, bool press) {
  XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, keysym), press, 0);
  Sync();
}

void X::MoveTo(int screen_x, int screen_y) {
  XTestFakeMotionEvent(display_, -1, screen_x, screen_y, 0);
  Sync();
}

void X::Button(unsigned button, bool press) {
  XTestFakeButtonEvent(display_, button, press, 0);
  Sync();
}

void X::CloseRequest(XID window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  Sync();
}

void X::Resize(XID window, int width, int height) {
  XResizeWindow(display_, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  Sync();
}

void X::Move(XID window, int x, int y) {
  XMoveWindow(display_, window, x, y);
  Sync();
}

void X::SetMinimised(XID window, bool minimised) {
  Atom state = XInternAtom(display_, "_NET_WM_STATE", False);
  Atom hidden = XInternAtom(display_, "_NET_WM_STATE_HIDDEN", False);
  XChangeProperty(display_, window, state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&hidden), minimised ? 1 : 0);
  Sync();
}

void X::Sync() { XSync(display_, False); }

// --- ShownWindow ----------------------------------------------------------------

ShownWindow::ShownWindow(int x, int y, int width, int height) {
  static std::atomic<int> serial{0};
  title_ = "wm test " + std::to_string(getpid()) + "." + std::to_string(++serial);
  window_ = wmCreateWindow(x, y, width, height);
  if (!window_) {
    ADD_FAILURE() << "wmCreateWindow failed";
    return;
  }
  wmOptions(window_, WM_OPT_TITLE, reinterpret_cast<intptr_t>(title_.c_str()));
  wmOptions(window_, WM_OPT_CALLBACK, reinterpret_cast<intptr_t>(&Record));
  EXPECT_EQ(wmShowWindow(window_), 0) << "error " << errGetLastError();
}

ShownWindow::~ShownWindow() { Destroy(); }

void ShownWindow::Destroy() {
  if (window_) wmDestroyWindow(window_);
  window_ = nullptr;
}

}  // namespace wmtest
