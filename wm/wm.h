/* brisk!quantoven window manager: top-level OpenGL windows, their events and
 * input, the GL context layer, display modes, the screensaver guard and the
 * graphics adapter queries.
 *
 * A window is a wm_window_t owned by the window manager; callers hold its
 * pointer, which is the window's handle everywhere in the framework. Every
 * property of a window or of the screen is read or written through
 * wmOptions, by option number. Window messages become wm_event_t records
 * delivered synchronously, from inside wmProcessEvents, to the window's
 * callback.
 *
 * Everything runs on the thread that created the windows; nothing is locked.
 * Functions clear the last-error code on entry (except wmProcessEvents,
 * wmSwapBuffers and wmMakeCurrent) and on failure set it and return -1 or
 * null. This folder is the only place that talks to the windowing system. */
#ifndef BRISK_WM_WM_H
#define BRISK_WM_WM_H

#include <stdint.h>

#include "base/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Error codes of the window manager (5 out of memory and 10 null window come from the base library). */
enum {
  WM_ERR_GL = 3001,         /* OpenGL start-up or context failure */
  WM_ERR_WINDOW = 3005,     /* native window not created */
  WM_ERR_NEEDWINDOW = 3006, /* the option needs a window */
  WM_ERR_MODE = 3007,       /* the display cannot take the requested mode */
  WM_ERR_CLASS = 3008       /* window class not registered (no display) */
};

/* Window style bits kept in wm_window_t.style. */
#define WM_STYLE_DEFAULT 0x90CE0000u /* popup, visible, caption, system menu, sizing frame, minimise box */
#define WM_STYLE_VISIBLE 0x10000000u
#define WM_STYLE_CAPTION 0x00C00000u /* title bar and border */
#define WM_STYLE_SIZEBOX 0x00040000u /* sizing frame: the window can be resized */

/* Pixel format descriptor built by wglContextCreate (40 bytes, zero-filled
 * before use). The context is created from these values. */
typedef struct wm_pixelformat_s {
  uint16_t size;     /* 40 */
  uint16_t version;  /* 1 */
  uint32_t flags;    /* 0x25: draw to window, support OpenGL, double buffer */
  uint8_t pixelType; /* 0: RGBA */
  uint8_t colorBits, redBits, redShift, greenBits, greenShift, blueBits, blueShift;
  uint8_t alphaBits, alphaShift;
  uint8_t accumBits, accumRedBits, accumGreenBits, accumBlueBits, accumAlphaBits;
  uint8_t depthBits, stencilBits, auxBuffers, layerType, reserved;
  uint32_t layerMask, visibleMask, damageMask;
} wm_pixelformat_t;

enum { WM_PFD_DRAW_TO_WINDOW = 0x04, WM_PFD_SUPPORT_OPENGL = 0x20, WM_PFD_DOUBLEBUFFER = 0x01 };

struct wm_event_s;
/* A window's event callback. The event lives only for the duration of the
 * call; the result is ignored. */
typedef int (*wm_callback_t)(struct wm_event_s *event);

/* The window record, allocated zero-filled ("New Window") by wmCreateWindow. */
typedef struct wm_window_s {
  void *hwnd;            /* the native window (an SDL_Window); null until wmShowWindow */
  int32_t x, y;          /* position of the client area */
  int32_t width, height; /* size; after a resize, the client area's size */
  int32_t fullscreen;    /* option 101 */
  int32_t borderless;    /* option 104 */
  int32_t resizable;     /* option 108 */
  uint32_t style;        /* style bits, starting as WM_STYLE_DEFAULT */
  int32_t cursorHidden;  /* option 100 */
  int32_t lastMouseX, lastMouseY; /* position of the previous mouse event, for the deltas */
  int32_t leftButton, middleButton, rightButton; /* 1 while held */
  wm_pixelformat_t pixelFormat;
  void *hdc;                /* the drawable the context renders to (the native window) */
  int32_t pixelFormatIndex; /* nonzero once a GL-capable format was chosen for the window */
  void *hglrc;              /* the GL context (an SDL_GLContext) */
  int32_t pixelFormatSet;   /* result of setting the pixel format */
  wm_callback_t callback;   /* option 3, or null */
  char *title;              /* owned copy (option 102), or null */
  intptr_t userData;        /* options 105/106 */
} wm_window_t;

/* Event types, and the kinds of the key and window records. */
enum { WM_EVENT_KEY = 0, WM_EVENT_MOUSE = 1, WM_EVENT_WINDOW = 2 };
enum { WM_KIND_CLOSE = 5, WM_KIND_KEYDOWN = 6, WM_KIND_KEYUP = 7, WM_KIND_GEOMETRY = 12 };
/* Button actions of wm_mouse_t.button (0 for a move or a wheel turn). */
enum {
  WM_BUTTON_LEFT_DOWN = 1, WM_BUTTON_RIGHT_DOWN = 2, WM_BUTTON_MIDDLE_DOWN = 3,
  WM_BUTTON_LEFT_UP = 4, WM_BUTTON_RIGHT_UP = 5, WM_BUTTON_MIDDLE_UP = 6
};

typedef struct wm_mouse_s {
  int32_t kind;      /* always 0 */
  int32_t button;    /* WM_BUTTON_* of this event, 0 for a move or a wheel turn */
  int32_t left, right, middle; /* 1 while held */
  int32_t wheelUp;   /* 1 for a wheel turn away from the user */
  int32_t wheelDown; /* 1 for a wheel turn toward the user */
  int32_t x;         /* client position, low 16 bits taken as unsigned */
  int32_t y;         /* client position, low 16 bits taken as signed */
  int32_t dx, dy;    /* change against the previous mouse event of the window */
} wm_mouse_t, *wm_mouse_p;

typedef struct wm_key_s {
  int32_t kind;  /* WM_KIND_KEYDOWN (auto-repeat included) or WM_KIND_KEYUP */
  int32_t code;  /* framework key code (WM_KEY_*), 0 for keys outside the table */
  int32_t extra; /* always 0 */
} wm_key_t, *wm_key_p;

typedef struct wm_conf_s {
  int32_t kind; /* WM_KIND_CLOSE or WM_KIND_GEOMETRY in events; ignored by options 4 and 13 */
  int32_t x, y, width, height;
} wm_conf_t, *wm_conf_p;

typedef struct wm_event_s {
  int32_t type;        /* WM_EVENT_* */
  wm_window_t *window; /* the window the event belongs to */
  wm_mouse_t mouse;    /* type 1 */
  wm_key_t key;        /* type 0 */
  wm_conf_t conf;      /* type 2 */
} wm_event_t, *wm_event_p;

/* Framework key codes, by the rows of a PC keyboard. 14, 92-94, 96, 97 and
 * 103-105 are not produced; keys outside this table give 0. The Shift, Ctrl
 * and Alt keys of either side give the generic codes 106, 107 and 109. */
enum {
  WM_KEY_NONE = 0,
  WM_KEY_ESCAPE = 1,
  WM_KEY_F1 = 2, WM_KEY_F2, WM_KEY_F3, WM_KEY_F4, WM_KEY_F5, WM_KEY_F6, WM_KEY_F7, WM_KEY_F8,
  WM_KEY_F9, WM_KEY_F10, WM_KEY_F11, WM_KEY_F12 = 13,
  WM_KEY_SCROLLLOCK = 15, WM_KEY_PAUSE = 16, WM_KEY_GRAVE = 17,
  WM_KEY_1 = 18, WM_KEY_2, WM_KEY_3, WM_KEY_4, WM_KEY_5, WM_KEY_6, WM_KEY_7, WM_KEY_8, WM_KEY_9 = 26,
  WM_KEY_0 = 27, WM_KEY_MINUS = 28, WM_KEY_EQUALS = 29, WM_KEY_BACKSPACE = 30,
  WM_KEY_INSERT = 31, WM_KEY_HOME = 32, WM_KEY_PAGEUP = 33,
  WM_KEY_NUMLOCK = 34, WM_KEY_KP_DIVIDE = 35, WM_KEY_KP_MULTIPLY = 36, WM_KEY_KP_SUBTRACT = 37,
  WM_KEY_TAB = 38,
  WM_KEY_Q = 39, WM_KEY_W, WM_KEY_E, WM_KEY_R, WM_KEY_T, WM_KEY_Y, WM_KEY_U, WM_KEY_I, WM_KEY_O,
  WM_KEY_P = 48,
  WM_KEY_LEFTBRACKET = 49, WM_KEY_RIGHTBRACKET = 50, WM_KEY_ENTER = 51,
  WM_KEY_DELETE = 52, WM_KEY_END = 53, WM_KEY_PAGEDOWN = 54,
  WM_KEY_KP_7 = 55, WM_KEY_KP_8 = 56, WM_KEY_KP_9 = 57, WM_KEY_KP_ADD = 58,
  WM_KEY_CAPSLOCK = 59,
  WM_KEY_A = 60, WM_KEY_S, WM_KEY_D, WM_KEY_F, WM_KEY_G, WM_KEY_H, WM_KEY_J, WM_KEY_K, WM_KEY_L = 68,
  WM_KEY_SEMICOLON = 69, WM_KEY_APOSTROPHE = 70, WM_KEY_EXTRA = 71,
  WM_KEY_KP_4 = 72, WM_KEY_KP_5 = 73, WM_KEY_KP_6 = 74,
  WM_KEY_LSHIFT = 75, WM_KEY_BACKSLASH = 76,
  WM_KEY_Z = 77, WM_KEY_X, WM_KEY_C, WM_KEY_V, WM_KEY_B, WM_KEY_N, WM_KEY_M = 83,
  WM_KEY_COMMA = 84, WM_KEY_PERIOD = 85, WM_KEY_SLASH = 86, WM_KEY_RSHIFT = 87,
  WM_KEY_UP = 88, WM_KEY_KP_1 = 89, WM_KEY_KP_2 = 90, WM_KEY_KP_3 = 91,
  WM_KEY_SPACE = 95,
  WM_KEY_LEFT = 98, WM_KEY_DOWN = 99, WM_KEY_RIGHT = 100,
  WM_KEY_KP_0 = 101, WM_KEY_KP_DECIMAL = 102,
  WM_KEY_SHIFT = 106, WM_KEY_CTRL = 107, WM_KEY_WINDOWS = 108, WM_KEY_ALT = 109
};

/* Option numbers of wmOptions. "W" marks the options that need a window. */
enum {
  WM_OPT_DRIVER = 0,        /* driver name string (const char *), or null */
  WM_OPT_VIDEOMEMORY = 1,   /* total video memory in megabytes */
  WM_OPT_CALLBACK = 3,      /* W: value is the wm_callback_t */
  WM_OPT_SETGEOMETRY = 4,   /* W: value points to a wm_conf_t (x, y, width, height) */
  WM_OPT_DESKTOPWIDTH = 5, WM_OPT_DESKTOPHEIGHT = 6, WM_OPT_DESKTOPBPP = 7, WM_OPT_DESKTOPREFRESH = 8,
  WM_OPT_WIDTH = 9, WM_OPT_HEIGHT = 10, WM_OPT_X = 11, WM_OPT_Y = 12, /* W */
  WM_OPT_GETGEOMETRY = 13,  /* W: value points to a wm_conf_t to fill (null: nothing) */
  WM_OPT_HIDECURSOR = 100,  /* W: nonzero hides the cursor by two steps, 0 shows it by two */
  WM_OPT_FULLSCREEN = 101,  /* W: records the flag */
  WM_OPT_TITLE = 102,       /* W: value is the title string */
  WM_OPT_BORDERLESS = 104,  /* W */
  WM_OPT_SETUSERDATA = 105, /* W */
  WM_OPT_GETUSERDATA = 106, /* W */
  WM_OPT_RESIZABLE = 108    /* W */
};

/* --- windows and events ------------------------------------------------- */

/* Starts the window manager: the GL library, the GL table, the adapter
 * queries, the screensaver guard, the desktop mode and the display
 * connection. 0, or -1 with 3001 (OpenGL) or 3008 (no display). Called once. */
int wmInit(void);
/* Unloads the adapter queries and OpenGL, restores the screensaver and the
 * desktop mode. Windows still open are not touched. Returns 0. */
int wmDone(void);
/* New window record at the head of the window list; no native window yet. Null with 5. */
wm_window_t *wmCreateWindow(int x, int y, int width, int height);
/* Creates the native window and its current GL context and logs the GL
 * strings and limits. 0; -1 with 10 (null), 3005 (window) or 3001 (context;
 * the native window stays). Showing a shown window again replaces its native
 * window and context. */
int wmShowWindow(wm_window_t *window);
/* Hides the native window. 0; -1 with 10 for null. */
int wmHideWindow(wm_window_t *window);
/* Hides and destroys the native window (its callback receives one more
 * WM_KIND_CLOSE event), releases the context, removes and frees the record.
 * 0; -1 with 10 for null. */
int wmDestroyWindow(wm_window_t *window);
/* Reads or sets one property (WM_OPT_*). Returns the value read, or 0 after
 * a setting; -1 with 3006 when an option that needs a window gets null. */
intptr_t wmOptions(wm_window_t *window, int option, intptr_t value);
/* Delivers every pending window event to its window's callback; never blocks. */
void wmProcessEvents(void);
/* Presents the window's back buffer. 1, or 0 without a native window. */
int wmSwapBuffers(wm_window_t *window);
/* Makes the window's GL context current on this thread. 1, or 0 on failure. */
int wmMakeCurrent(wm_window_t *window);
/* Stand-in for wglGetProcAddress: an OpenGL entry point of the current
 * context by name (glXGetProcAddressARB). WGL names give their GLX
 * counterparts (never to be called); "wglSwapIntervalEXT" gives an entry of
 * type int (*)(int) that sets the swap interval, and is null when the
 * current context has no swap control. Null for a null name. */
void *wmGetProcAddress(const char *name);

/* --- OpenGL context layer (called by the window manager itself) ---------- */

/* Loads "libGL.so.1" and its context entry points. 0, or 1 on failure. */
int wglInit(void);
/* Gives the shown window its pixel format and a current GL context. 0, or 1. */
int wglContextCreate(wm_window_t *window);
/* Releases the window's context (made not current first). Returns 0. */
int wglContextDestroy(wm_window_t *window);
/* Unloads the OpenGL library. Returns 0. */
int wglDone(void);

/* --- display modes --------------------------------------------------------- */

typedef struct wm_videomode_s {
  int32_t width, height, bpp;
  float refresh; /* hertz */
} wm_videomode_t, *wm_videomode_p;

/* Records the desktop mode (width, height, bits per pixel, refresh). Returns 0. */
int dmInit(void);
/* The display's modes as a list of new wm_videomode_t records ("wmGetVideoModes"),
 * in the system's order; the caller owns list and records. Null when there
 * are none (or with 5 when memory runs out). */
SYS_List_p wmGetVideoModes(void);
/* Switches to a full-screen mode (refresh 0.0: any rate). The window that
 * covers the whole mode (at 0, 0 with the mode's size) goes full screen,
 * now or when it is shown. 0 (also when the mode is the desktop's), or -1
 * with 3007. */
int wmSetVideoMode(int width, int height, int depth, float refresh);
/* After a switch: leaves full screen and gives the desktop mode back. 0, or -1. */
int wmRestoreVideoMode(void);
/* The same restore, for wmDone. Returns 0. */
int dmDone(void);

/* --- screensaver and display power-off guard ------------------------------ */

int dpmsInit(void);     /* saves the current settings; returns 0 */
int dpmsEnable(int on); /* switches both on or off for the run; returns 0 */
int dpmsDone(void);     /* restores the saved settings; returns 0 */

/* --- graphics adapter ------------------------------------------------------ */

/* Opens the adapter queries (the kernel's DRM devices). 0, or 1 when unavailable. */
int ddInit(void);
/* Closes them. Returns 0. */
int ddDone(void);
/* Total video memory of the first adapter in megabytes, 0 when not reported. */
int ddCheckVideoMemory(void);
/* New tracked copy of the first adapter's name, or of "Unknown". */
char *ddGetDriverName(void);

#ifdef __cplusplus
}
#endif

#endif
